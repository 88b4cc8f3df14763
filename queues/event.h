// Events: typed messages between the processes of the product. Every event
// has a small header (type, dest, uid, exception) and a payload whose type
// is fixed by the type number. devent<N, T> is the event of type N with a
// payload of type T, and event_of<N> names it; exevent is the failure reply.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "queues/control_payloads.h"
#include "queues/event_type.h"
#include "queues/ioprim.h"
#include "queues/server_configuration.h"
#include "queues/tsdb_payloads.h"

namespace queues {

// The payload of an event that only other processes of the product
// understand: this process neither writes nor reads one.
struct foreign_payload {
    void write_to(protocol::ioprim& io) const;
    void read_from(protocol::ioprim& io);
    void print_to(std::ostream& out, unsigned level) const;
};

class event {
public:
    virtual ~event() = default;
    virtual std::unique_ptr<event> clone() const = 0;
    virtual void write_payload(protocol::ioprim& io) const = 0;
    virtual void print_payload(std::ostream& out, unsigned level) const = 0;

    event_t type;
    // The queue to deliver to; on an incoming event, the queue it came from.
    int32_t dest;
    // The dialog number: a reply carries the number of its request.
    uint32_t uid;
    bool exception;
    // The payload of the concrete event; null in a failure reply.
    const void* data;

protected:
    event(event_t type, int32_t dest, uint32_t uid, bool exception, const void* data)
        : type(type), dest(dest), uid(uid), exception(exception), data(data) {}
    event(const event&) = default;
    event& operator=(const event&) = delete;
};

template <event_t N, typename T>
class devent final : public event {
public:
    explicit devent(int32_t dest = 0, uint32_t uid = 0, T payload = T{})
        : event(N, dest, uid, false, nullptr), payload(std::move(payload)) {
        data = &this->payload;
    }
    devent(const devent& other) : event(other), payload(other.payload) { data = &payload; }

    std::unique_ptr<event> clone() const override { return std::make_unique<devent>(*this); }
    void write_payload(protocol::ioprim& io) const override {
        if (!exception) {
            protocol::put(io, payload);
        }
    }
    void print_payload(std::ostream& out, unsigned level) const override {
        protocol::print_payload(out, payload, level);
    }

    T payload;
};

template <event_t N>
struct payload_of {
    using type = foreign_payload;
};
#define QUEUES_PAYLOAD_OF(number, name, payload_type) \
    template <>                                       \
    struct payload_of<number> {                       \
        using type = payload_type;                    \
    };
QUEUES_KNOWN_EVENTS(QUEUES_PAYLOAD_OF)
#undef QUEUES_PAYLOAD_OF

template <event_t N>
using event_of = devent<N, typename payload_of<N>::type>;

// A failure reply, whatever request it answers.
class exevent final : public event {
public:
    exevent(int32_t dest, uint32_t uid, std::string text)
        : event(MESSAGE_EXCEPTION, dest, uid, true, nullptr), text(std::move(text)) {}
    exevent(const exevent& other) = default;

    std::unique_ptr<event> clone() const override { return std::make_unique<exevent>(*this); }
    void write_payload(protocol::ioprim& io) const override { io.write_string(text); }
    void print_payload(std::ostream& out, unsigned level) const override;

    std::string text;
};

}  // namespace queues
