// Lines for the process's error output, for what must be seen when no log
// line can reach the parent any more.
#pragma once

#include <string_view>

namespace util {

// Writes the line and a line end, and flushes. Never throws.
void write_error_line(std::string_view line) noexcept;

}  // namespace util
