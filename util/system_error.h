// Operating-system error codes as readable texts and as failures.
#pragma once

#include <string>
#include <string_view>

namespace util {

// The system's text for `code`, or the code in decimal when it has none.
std::string system_error_text(int code);

// Throws context + ": " + the code's text: error::EFileNotFoundError for a
// missing file or path, error::EFileExistsError for an existing one, and
// error::ESystemError for every other code.
[[noreturn]] void raise_system_error(std::string_view context, int code);

// Throws error::ESystemError with the context alone.
[[noreturn]] void raise_system_error(std::string_view context);

// raise_system_error with the code of the last failed system call.
[[noreturn]] void raise_last_system_error(std::string_view context);

}  // namespace util
