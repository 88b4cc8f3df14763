// Broken internal rules. They are not failures to recover from: the rule's
// text goes to the error output and the process aborts at once, without
// unwinding and without flushing the database.
#pragma once

#include <string_view>

namespace error {

[[noreturn]] void assertion_failed(std::string_view rule) noexcept;

// Checks a rule that must hold.
inline void require(bool holds, std::string_view rule) noexcept {
    if (!holds) [[unlikely]] {
        assertion_failed(rule);
    }
}

}  // namespace error
