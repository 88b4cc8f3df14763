#include "queues/event_stream.h"

#include <array>
#include <utility>

#include "error/assert.h"
#include "queues/error.h"

namespace queues {

namespace {

using Reader = std::unique_ptr<event> (*)(protocol::ioprim&);

template <event_t N>
std::unique_ptr<event> read_as(protocol::ioprim& io) {
    const int32_t dest = io.read_i32();
    const uint32_t uid = io.read_u32();
    if (io.read_u32() != 0) {
        return std::make_unique<exevent>(dest, uid, io.read_string());
    }
    if constexpr (N == MESSAGE_EXCEPTION) {
        throw protocol::EMalformedEvent("Found exevent with .exception == 0");
    } else {
        auto e = std::make_unique<event_of<N>>(dest, uid);
        protocol::get(io, e->payload);
        return e;
    }
}

template <size_t... N>
constexpr std::array<Reader, sizeof...(N) + 1> make_readers(std::index_sequence<N...>) {
    return {nullptr, &read_as<N + 1>...};
}

// Indexed by type; entry 0 is empty.
constexpr std::array<Reader, INVALID_TAIL> readers =
    make_readers(std::make_index_sequence<MESSAGE_EXCEPTION>());

}  // namespace

void foreign_payload::write_to(protocol::ioprim&) const {
    error::assertion_failed("write of a payload this process does not carry");
}

void foreign_payload::read_from(protocol::ioprim& io) {
    throw protocol::EMalformedEvent("fdio >> event: the payload of " +
                                    event_name(io.previous_type) +
                                    " is not carried by this process");
}

void foreign_payload::print_to(std::ostream& out, unsigned) const {
    out << "(payload not carried by this process)\n";
}

void exevent::print_payload(std::ostream& out, unsigned level) const {
    out << protocol::indent(level) << "Exception: " << text << "\n";
}

void write_event(protocol::ioprim& io, const event& e) {
    if (e.type < 1 || e.type >= INVALID_TAIL) {
        error::assertion_failed("fdio << event: unknown type index: " + std::to_string(e.type));
    }
    io.write_u32(e.type);
    io.write_i32(e.dest);
    io.write_u32(e.uid);
    io.write_bool(e.exception);
    e.write_payload(io);
}

std::unique_ptr<event> read_event(protocol::ioprim& io) {
    const uint32_t type = io.read_u32();
    if (type < 1 || type >= INVALID_TAIL) {
        throw protocol::EMalformedEvent(
            "fdio >> event: unknown type index: " + std::to_string(type) + " old was " +
            std::to_string(io.previous_type) + " dest " + std::to_string(io.previous_dest));
    }
    // The foreign payload's failure text names the type being read.
    io.previous_type = type;
    std::unique_ptr<event> e = readers[type](io);
    if (e->type != type && !e->exception) {
        throw protocol::EMalformedEvent("spawn[] hash failure!");
    }
    io.previous_dest = e->dest;
    return e;
}

void print_event(std::ostream& out, const event& e, unsigned level) {
    const std::string i = protocol::indent(level);
    out << event_name(e.type) << " {\n";
    out << i << "  dest: " << queue_name(e.dest) << "\n";
    out << i << "  inresponse: " << e.uid << "\n";
    e.print_payload(out, level + 1);
    out << i << "}\n";
}

}  // namespace queues
