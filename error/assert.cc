#include "error/assert.h"

#include <cstdio>
#include <cstdlib>

namespace error {

void assertion_failed(std::string_view rule) noexcept {
    std::fputs("Assertion failed: ", stderr);
    std::fwrite(rule.data(), 1, rule.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    std::abort();
}

}  // namespace error
