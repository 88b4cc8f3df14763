#include "log/storage_log.h"

#include "log/log.h"

namespace logging {

namespace {

constexpr uint32_t verbose_request_bit = 0x4000000;
constexpr uint32_t default_word = 12;

uint32_t word = default_word;

}  // namespace

uint32_t verbosity_for_log_mask(uint32_t log_mask) noexcept {
    return (log_mask & verbose_request_bit) != 0 ? 14 : default_word;
}

void set_storage_verbosity(uint32_t new_word) noexcept { word = new_word; }

uint32_t storage_verbosity() noexcept { return word; }

bool storage_logs(Verbosity level) noexcept { return (word & static_cast<uint32_t>(level)) != 0; }

void storage_log(Verbosity level, std::string_view text) noexcept {
    if (storage_logs(level)) {
        log(text);
    }
}

}  // namespace logging
