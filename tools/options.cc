#include "tools/options.h"

#include "error/exception.h"
#include "util/format.h"

namespace tools {

uint32_t parse_number(const std::string& option, const std::string& value, uint32_t low,
                      uint32_t high) {
    uint32_t number = 0;
    try {
        number = util::parse_u32(value);
    } catch (const error::EParseError&) {
        throw UsageError{option + " takes a whole number, not " + util::quote(value)};
    }
    if (number < low || number > high) {
        throw UsageError{option + " must be from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not " + value};
    }
    return number;
}

uint32_t database_blocks(const std::optional<std::string>& size,
                         const std::optional<std::string>& blocks, uint32_t block_size) {
    if (size && blocks) {
        throw UsageError{"give --size or --blocks, not both"};
    }
    if (blocks) {
        return parse_number("--blocks", *blocks, 1, 0xFFFFFFFE);
    }
    const std::string value = size.value_or("64M");
    const char suffix = value.empty() ? '\0' : value.back();
    const uint64_t scale = suffix == 'K' || suffix == 'k'   ? 1ull << 10
                           : suffix == 'M' || suffix == 'm' ? 1ull << 20
                           : suffix == 'G' || suffix == 'g' ? 1ull << 30
                                                            : 1;
    const std::string digits = scale == 1 ? value : value.substr(0, value.size() - 1);
    const uint64_t blocks_wanted =
        parse_number("--size", digits, 1, 0xFFFFFFFF) * scale / block_size;
    if (blocks_wanted == 0 || blocks_wanted > 0xFFFFFFFE) {
        throw UsageError{"--size " + value + " is not a usable size in bytes (like 64M or 1G)"};
    }
    return static_cast<uint32_t>(blocks_wanted);
}

std::string with_directory(const std::string& path) {
    return path.find('/') == std::string::npos ? "./" + path : path;
}

}  // namespace tools
