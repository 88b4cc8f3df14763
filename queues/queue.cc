#include "queues/queue.h"

namespace queues {

namespace {

constexpr const char* names[queue_count] = {
    "main", "schd", "dbms", "rmch", "skio", "alrm", "alrt", "snmp", "brdc", "bnch", "port", "keyg",
    "rept", "forc", "kngt", "nets", "grid", "ncup", "gmas", "gsat", "tsdb", "upln", "extra"};

}  // namespace

std::string queue_name(int32_t queue) {
    if (queue == queue_none) {
        return "none";
    }
    if (queue >= 0 && queue < queue_count) {
        return names[queue];
    }
    std::string digits = std::to_string(queue);
    if (digits.size() < 4) {
        digits.insert(0, 4 - digits.size(), 'x');
    }
    return digits;
}

}  // namespace queues
