// Where events leave this process: the parent queue, or a stand-in in tests.
#pragma once

#include <cstdint>

#include "queues/event.h"

namespace queues {

// Dialog numbers: the counter starts at 1 and is raised before each use, so
// the first number is 2; never 0, also after wrapping.
class DialogCounter {
public:
    uint32_t fresh() {
        if (++last_ == 0) {
            last_ = 1;
        }
        return last_;
    }
    void set_last(uint32_t last) { last_ = last; }

private:
    uint32_t last_ = 1;
};

class EventSender {
public:
    virtual ~EventSender() = default;
    // Sends the event to the queue its dest names.
    virtual void send(const event& e) = 0;
    // A dialog number not used before by this sender.
    virtual uint32_t fresh_uid() = 0;
};

}  // namespace queues
