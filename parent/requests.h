// Where a client's requests go: a database child, or the request handlers
// run in the requester's own process on a file it opened itself.
#pragma once

#include <cstdint>
#include <memory>

#include "queues/event.h"

namespace parent {

class Requests {
public:
    virtual ~Requests() = default;
    // Sends the request with a fresh uid (set on it) and returns the uid.
    virtual uint32_t send(queues::event& request) = 0;
    // Waits for the reply (or failure reply) to the request with this uid.
    virtual std::unique_ptr<queues::event> reply_to(uint32_t uid) = 0;
    // The reply with this uid if it has already arrived, else null.
    virtual std::unique_ptr<queues::event> take_reply(uint32_t uid) = 0;
};

}  // namespace parent
