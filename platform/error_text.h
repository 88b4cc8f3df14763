// Readable texts for operating-system error codes.
#pragma once

#include <string>

namespace platform {

// The C library's text for an errno value, without a trailing line end;
// empty when the library has none.
std::string error_text(int code);

// The errno value left by the last failed system call.
int last_error() noexcept;

// Error codes that the failure classes tell apart.
bool is_not_found(int code) noexcept;
bool is_already_exists(int code) noexcept;

}  // namespace platform
