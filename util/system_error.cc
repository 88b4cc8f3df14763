#include "util/system_error.h"

#include "error/exception.h"
#include "platform/error_text.h"

namespace util {

std::string system_error_text(int code) {
    std::string text = platform::error_text(code);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
        text.pop_back();
    }
    return text.empty() ? std::to_string(code) : text;
}

void raise_system_error(std::string_view context, int code) {
    std::string text = std::string(context) + ": " + system_error_text(code);
    if (platform::is_not_found(code)) {
        throw error::EFileNotFoundError(std::move(text));
    }
    if (platform::is_already_exists(code)) {
        throw error::EFileExistsError(std::move(text));
    }
    throw error::ESystemError(std::move(text));
}

void raise_system_error(std::string_view context) {
    throw error::ESystemError(std::string(context));
}

void raise_last_system_error(std::string_view context) {
    raise_system_error(context, platform::last_error());
}

}  // namespace util
