// A progress bar on the error output for long jobs, drawn only when the
// error output is a terminal and the job is large enough to need one.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tools {

class Progress {
public:
    // `total` units of work; no bar below `worth_showing` units.
    Progress(std::string what, uint64_t total, uint64_t worth_showing = 10000);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void advance(uint64_t units);

private:
    void draw();

    std::string what_;
    uint64_t total_;
    uint64_t done_ = 0;
    bool shown_;
    std::chrono::steady_clock::time_point last_draw_{};
};

}  // namespace tools
