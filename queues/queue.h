// The processes of the product as numbered queues; the number is also the
// process's sibling number on the shared-memory transport.
#pragma once

#include <cstdint>
#include <string>

namespace queues {

enum queue_t : int32_t {
    queue_none = -1,
    queue_main = 0,  // the parent, MAIN
    queue_dbms = 2,
    queue_brdc = 8,
    queue_tsdb = 20,  // this process
};

inline constexpr int32_t queue_count = 23;

// "main", "dbms", ... for 0 to 22 and -1 ("none"); any other number in
// decimal, left-padded with 'x' to four characters.
std::string queue_name(int32_t queue);

}  // namespace queues
