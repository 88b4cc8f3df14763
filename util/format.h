// Number formatting and parsing, and quoting of strings for log lines and
// failure texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace util {

enum class Digits { any, at_least_two };

std::string format_u32(uint32_t value, Digits digits = Digits::any);
std::string format_i32(int32_t value, Digits digits = Digits::any);
std::string format_u64(uint64_t value);
std::string format_size(size_t value);
std::string format_hex32(uint32_t value);
std::string format_hex64(uint64_t value);
// "nan", "inf" and "-inf" for those values, else fixed notation with the
// given width and precision.
std::string format_double(double value, int width = 0, int precision = 6);

// An unsigned decimal number that fits 32 bits, nothing before or after it.
// Throws error::EParseError "Error parsing: " and the quoted text otherwise.
uint32_t parse_u32(std::string_view text);
// A decimal floating-point number, "nan", "inf" or "-inf". Throws
// error::EParseError "Error parsing: \"" and the text otherwise.
double parse_double(std::string_view text);

// The text in double quotes, with the C escapes for control characters,
// quotes and backslashes, and three-digit octal escapes for every other byte
// outside the printable range.
std::string quote(std::string_view text);

}  // namespace util
