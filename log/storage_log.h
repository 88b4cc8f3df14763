// The storage engine's optional diagnostics. Each carries one verbosity bit
// and is logged only when that bit is set in the verbosity word, which the
// process sets once from the configured log mask.
#pragma once

#include <cstdint>
#include <string_view>

namespace logging {

enum class Verbosity : uint32_t {
    debug = 1,    // traces of inserts, reads and pointer look-ups
    verbose = 2,  // chain and space maintenance
    notice = 4,   // invalid records and whole-buffer flushes
    warning = 8,  // aggregation notices
};

// Debug never, verbose only when bit 26 of the log mask asks for it.
uint32_t verbosity_for_log_mask(uint32_t log_mask) noexcept;

void set_storage_verbosity(uint32_t word) noexcept;
uint32_t storage_verbosity() noexcept;

// Whether messages of this level are logged; check it before building an
// expensive message.
bool storage_logs(Verbosity level) noexcept;

// Logs `text` when its level is enabled.
void storage_log(Verbosity level, std::string_view text) noexcept;

}  // namespace logging
