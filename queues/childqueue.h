// The child's queue toward its siblings (above all the parent): sends
// events, takes the next incoming one, and waits for the reply to a request
// while unrelated events are set aside for the main loop. Its front,
// "parentqueue.in", is what the main loop waits on.
#pragma once

#include <bitset>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "io/sibling_messenger.h"
#include "queues/event_sender.h"
#include "queues/event_stream.h"
#include "queues/queue.h"

namespace queues {

class childqueue final : public io::StackedSelectableBack, public EventSender {
public:
    explicit childqueue(io::SiblingMessenger& messenger);

    void send(const event& e) override;
    uint32_t fresh_uid() override { return dialogs_.fresh(); }

    // The next incoming event, its dest set to the queue it came from; null
    // when the peer it came from has gone.
    std::unique_ptr<event> next();
    // The reply of type `type` (or a failure reply) with this uid from the
    // peer; null when the peer goes first.
    std::unique_ptr<event> awaitReply(uint32_t uid, int32_t peer, event_t type);
    bool peerGone(int32_t queue) const;

    // Sends the request with a fresh uid and returns the reply of type
    // `reply`. A failure reply raises errors::remote_error with its text;
    // a peer that goes raises error::ESystemError with `eos_text`.
    std::unique_ptr<event> dialog(event& request, event_t reply, const std::string& eos_text);

    void underlyingIsReady(io::Selectable& lower) override;

private:
    protocol::ioprim& stream_of(int32_t peer);
    // Reads one event from the sibling the messenger says is ready.
    std::unique_ptr<event> read_from_ready_sibling();
    void rearm();

    io::SiblingMessenger& messenger_;
    std::map<int32_t, std::unique_ptr<protocol::ioprim>> streams_;
    std::deque<std::unique_ptr<event>> set_aside_;
    DialogCounter dialogs_;
    std::bitset<queue_count> gone_;
};

}  // namespace queues
