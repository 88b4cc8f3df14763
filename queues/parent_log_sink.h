// Log lines to the parent: each line is one SYSTEM_LOG_REQUEST to queue 0
// with a fresh dialog number; no reply is awaited.
#pragma once

#include "log/log.h"
#include "queues/event_sender.h"

namespace queues {

class ParentLogSink final : public logging::Sink {
public:
    explicit ParentLogSink(EventSender& parent) : parent_(parent) {}
    void send(const std::string& line, int32_t log_type) override {
        parent_.send(
            event_of<SYSTEM_LOG_REQUEST>(queue_main, parent_.fresh_uid(), {line, log_type}));
    }

private:
    EventSender& parent_;
};

}  // namespace queues
