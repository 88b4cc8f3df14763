// Captures the log lines of a test while it lives.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "log/log.h"

namespace testing_support {

struct LogCapture : logging::Sink {
    LogCapture() { logging::set_sink(this); }
    ~LogCapture() override { logging::set_sink(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void send(const std::string& line, int32_t) override { lines.push_back(line); }
    size_t count(const std::string& line) const {
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
    }
    bool has(const std::string& line) const { return count(line) > 0; }

    std::vector<std::string> lines;
};

}  // namespace testing_support
