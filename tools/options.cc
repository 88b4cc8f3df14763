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

uint32_t parse_size_in_blocks(const std::string& value, uint32_t block_size) {
    const char suffix = value.empty() ? '\0' : value.back();
    const uint64_t scale = suffix == 'K' || suffix == 'k'   ? 1ull << 10
                           : suffix == 'M' || suffix == 'm' ? 1ull << 20
                           : suffix == 'G' || suffix == 'g' ? 1ull << 30
                                                            : 0;
    if (scale == 0) {
        return parse_number("--size", value, 1, 0xFFFFFFFE);
    }
    const uint64_t bytes =
        parse_number("--size", value.substr(0, value.size() - 1), 1, 0xFFFFFFFF) * scale;
    const uint64_t blocks = bytes / block_size;
    if (blocks == 0 || blocks > 0xFFFFFFFE) {
        throw UsageError{"--size " + value + " is not a usable number of blocks"};
    }
    return static_cast<uint32_t>(blocks);
}

std::string with_directory(const std::string& path) {
    return path.find('/') == std::string::npos ? "./" + path : path;
}

}  // namespace tools
