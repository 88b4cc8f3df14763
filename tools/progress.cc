#include "tools/progress.h"

#include <cstdio>

#include "platform/process.h"

namespace tools {

namespace {
constexpr int bar_width = 40;
}

Progress::Progress(std::string what, uint64_t total, uint64_t worth_showing)
    : what_(std::move(what)),
      total_(total),
      shown_(total >= worth_showing && platform::is_terminal(2)) {}

Progress::~Progress() {
    if (shown_) {
        done_ = total_;
        draw();
        std::fputc('\n', stderr);
    }
}

void Progress::advance(uint64_t units) {
    done_ += units;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_draw_ > std::chrono::milliseconds(100)) {
        last_draw_ = now;
        draw();
    }
}

void Progress::draw() {
    const double part = total_ == 0 ? 1 : static_cast<double>(done_) / static_cast<double>(total_);
    const int filled = static_cast<int>(part * bar_width);
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", what_.c_str(), filled,
                 "########################################", bar_width - filled, "",
                 static_cast<int>(part * 100));
    std::fflush(stderr);
}

}  // namespace tools
