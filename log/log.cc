#include "log/log.h"

#include <cstdio>

#include "error/exception.h"

namespace logging {

namespace {

struct State {
    Sink* sink = nullptr;
    uint32_t log_mask = 0;
    std::string match_text;
};

State& state() {
    static State the_state;
    return the_state;
}

void to_error_output(std::string_view line) noexcept {
    std::fputs("Log: ", stderr);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace

void log(std::string_view text, int32_t log_type) noexcept {
    Sink* sink = state().sink;
    if (sink == nullptr) {
        to_error_output(text);
        return;
    }
    try {
        sink->send(std::string(text), log_type);
    } catch (const error::Exception&) {
        to_error_output(text);
    } catch (const std::bad_alloc&) {
        to_error_output(text);
    }
}

void set_sink(Sink* sink) noexcept { state().sink = sink; }

void set_log_mask(uint32_t mask) noexcept { state().log_mask = mask; }

uint32_t log_mask() noexcept { return state().log_mask; }

void set_match_text(std::string text) { state().match_text = std::move(text); }

const std::string& match_text() noexcept { return state().match_text; }

}  // namespace logging
