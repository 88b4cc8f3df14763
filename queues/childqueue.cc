#include "queues/childqueue.h"

#include "error/anomaly.h"
#include "error/assert.h"
#include "error/exception.h"
#include "meter/metric.h"
#include "meter/process_groups.h"
#include "queues/error.h"
#include "util/error_output.h"
#include "util/time_value.h"

namespace queues {

namespace {

meter::Group& queue_metrics = meter::process_groups().queues;
meter::MicroSecondTiming blockings(&queue_metrics, "blockings",
                                   "The time spent blocked awaiting reply from another process");
meter::IntegerCounter noblockings(
    &queue_metrics, "noblockings",
    "The number of times a reply from another process was immediately available");

bool matches(const event& e, uint32_t uid, int32_t peer, event_t type) {
    return e.uid == uid && e.dest == peer && (e.type == type || e.exception);
}

}  // namespace

childqueue::childqueue(io::SiblingMessenger& messenger)
    : StackedSelectableBack("parentqueue.in"), messenger_(messenger) {
    watch(&messenger_.front(), true);
}

protocol::ioprim& childqueue::stream_of(int32_t peer) {
    auto& s = streams_[peer];
    if (!s) {
        s = std::make_unique<protocol::ioprim>(&messenger_.input(peer), &messenger_.output(peer));
    }
    return *s;
}

void childqueue::send(const event& e) {
    protocol::ioprim& io = stream_of(e.dest);
    write_event(io, e);
    io.flush();
}

bool childqueue::peerGone(int32_t queue) const {
    return queue >= 0 && queue < queue_count && gone_.test(static_cast<size_t>(queue));
}

void childqueue::underlyingIsReady(io::Selectable& lower) {
    error::require(&lower == &messenger_.front(),
                   "childqueue::underlyingIsReady got wrong Selectable");
    set_front_ready(true);
    watch(&lower, false);
}

void childqueue::rearm() {
    watch(&messenger_.front(), true);
    set_front_ready(!set_aside_.empty());
}

std::unique_ptr<event> childqueue::read_from_ready_sibling() {
    io::waitReady(messenger_.front());
    const int32_t peer = messenger_.readySibling();
    const auto bit = static_cast<size_t>(peer);
    try {
        std::unique_ptr<event> e = read_event(stream_of(peer));
        if (bit < gone_.size()) {
            gone_.reset(bit);
        }
        e->dest = peer;
        return e;
    } catch (const io::EEndOfStream& ended) {
        streams_.erase(peer);
        // An event that cannot be read ends the stream; its sender can no
        // longer be told why, so the reader's text goes to the error output.
        // The parent's stream then ends by this child's shutdown, which lets
        // what was sent to the parent arrive.
        if (dynamic_cast<const protocol::EMalformedEvent*>(&ended) != nullptr) {
            util::write_error_line(ended.text());
            if (peer == queue_main) {
                messenger_.endInput(peer);
                return nullptr;
            }
        }
        if (bit < gone_.size()) {
            gone_.set(bit);
        }
        messenger_.drop(peer);
        return nullptr;
    }
}

std::unique_ptr<event> childqueue::next() {
    if (!set_aside_.empty()) {
        std::unique_ptr<event> e = std::move(set_aside_.front());
        set_aside_.pop_front();
        rearm();
        return e;
    }
    std::unique_ptr<event> e = read_from_ready_sibling();
    rearm();
    return e;
}

std::unique_ptr<event> childqueue::awaitReply(uint32_t uid, int32_t peer, event_t type) {
    for (auto it = set_aside_.begin(); it != set_aside_.end(); ++it) {
        if (matches(**it, uid, peer, type)) {
            std::unique_ptr<event> e = std::move(*it);
            set_aside_.erase(it);
            noblockings.increment();
            rearm();
            return e;
        }
    }
    const util::TimeValue started = util::TimeValue::now();
    std::unique_ptr<event> reply;
    while (!reply && !peerGone(peer)) {
        std::unique_ptr<event> e = read_from_ready_sibling();
        if (!e) {
            continue;
        }
        if (matches(*e, uid, peer, type)) {
            reply = std::move(e);
        } else {
            set_aside_.push_back(std::move(e));
        }
    }
    if (reply) {
        const util::TimeValue spent = util::TimeValue::now() - started;
        blockings.record(static_cast<uint64_t>(spent.seconds()) * 1000000 +
                         static_cast<uint64_t>(spent.microseconds()));
    }
    rearm();
    return reply;
}

std::unique_ptr<event> childqueue::dialog(event& request, event_t reply,
                                          const std::string& eos_text) {
    request.uid = fresh_uid();
    send(request);
    std::unique_ptr<event> answer = awaitReply(request.uid, request.dest, reply);
    if (!answer) {
        throw error::ESystemError(eos_text);
    }
    if (const auto* failure = dynamic_cast<const exevent*>(answer.get())) {
        throw errors::remote_error(failure->text);
    }
    if (answer->type != reply) {
        error::assertion_failed("Dialog to " + queue_name(request.dest) + ", sent " +
                                event_name(request.type) + " expected " + event_name(reply) +
                                " got " + event_name(answer->type) +
                                " uid=" + std::to_string(request.uid));
    }
    return answer;
}

}  // namespace queues
