// Errors that must outlive the parent process (a crash, a failed shutdown)
// go to the system's own log.
#pragma once

#include <string_view>

namespace logging {

// Reports `text` as an error of source "Nimbra". Never fails visibly.
void report_to_system_log(std::string_view text) noexcept;

// The crash reporter's report function: the same report, safe inside a
// fatal-signal handler.
void report_crash(const char* message) noexcept;

}  // namespace logging
