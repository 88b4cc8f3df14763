#include "platform/error_text.h"

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

// strerror_r comes in two flavours; each overload takes what its flavour returns.
[[maybe_unused]] const char* pick(const char* gnu_result, const char*) { return gnu_result; }
[[maybe_unused]] const char* pick(int xsi_result, const char* buffer) {
    return xsi_result == 0 ? buffer : "";
}

}  // namespace

std::string error_text(int code) {
    char buffer[256] = {};
    return pick(strerror_r(code, buffer, sizeof buffer), buffer);
}

int last_error() noexcept { return errno; }

bool is_not_found(int code) noexcept { return code == ENOENT || code == ENOTDIR; }

bool is_already_exists(int code) noexcept { return code == EEXIST; }

}  // namespace platform
