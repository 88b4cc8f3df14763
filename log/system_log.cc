#include "log/system_log.h"

#include "platform/system_log.h"

namespace logging {

void report_to_system_log(std::string_view text) noexcept { platform::report_system_error(text); }

void report_crash(const char* message) noexcept { platform::report_system_error(message); }

}  // namespace logging
