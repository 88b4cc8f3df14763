// The log: every line of this process goes through log(). Lines go to the
// installed sink (the parent process, once its queue exists) or else to the
// error output as "Log: " and the line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace logging {

// Takes log lines once installed. send() may throw error::Exception when the
// line cannot be delivered; the line then goes to the error output.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void send(const std::string& line, int32_t log_type) = 0;
};

// Logs one line (without line end). Never throws.
void log(std::string_view text, int32_t log_type = 0) noexcept;

// The sink for later lines; nullptr sends them to the error output. The sink
// must outlive its installation.
void set_sink(Sink* sink) noexcept;

// Settings taken from the configuration, kept for the process.
void set_log_mask(uint32_t mask) noexcept;
uint32_t log_mask() noexcept;
void set_match_text(std::string text);
const std::string& match_text() noexcept;

}  // namespace logging
