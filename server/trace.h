// The optional trace of handled requests: "N:" when a request reaches its
// handler, then "T: " with the milliseconds it took and the event's name.
#pragma once

#include <fstream>
#include <string>

#include "util/time_value.h"

namespace server {

class Trace {
public:
    // No tracing for an empty path. A file that cannot be made is logged and
    // leaves tracing off; a file that can is logged with its path.
    explicit Trace(const std::string& path);

    void begin();
    void end(const std::string& event_name);

private:
    bool on() const { return out_.is_open() && out_.good(); }

    std::ofstream out_;
    util::TimeValue started_;
};

}  // namespace server
