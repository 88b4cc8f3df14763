#include "tools/options.h"

#include <fstream>
#include <sstream>

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

uint32_t blocks_of_size(const std::string& size, uint32_t block_size) {
    const char suffix = size.empty() ? '\0' : size.back();
    const uint64_t scale = suffix == 'K' || suffix == 'k'   ? 1ull << 10
                           : suffix == 'M' || suffix == 'm' ? 1ull << 20
                           : suffix == 'G' || suffix == 'g' ? 1ull << 30
                                                            : 1;
    const std::string digits = scale == 1 ? size : size.substr(0, size.size() - 1);
    const uint64_t blocks = parse_number("--size", digits, 1, 0xFFFFFFFF) * scale / block_size;
    if (blocks == 0 || blocks > 0xFFFFFFFE) {
        throw UsageError{"--size " + size + " is not a usable size in bytes (like 64M or 1G)"};
    }
    return static_cast<uint32_t>(blocks);
}

std::string with_directory(const std::string& path) {
    return path.find('/') == std::string::npos ? "./" + path : path;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw EBadInput("cannot read " + path);
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

}  // namespace tools
