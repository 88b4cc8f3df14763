#include "util/format.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "error/exception.h"

namespace util {

namespace {

template <typename... Args>
std::string printed(const char* format, Args... args) {
    char buffer[128];
    const int length = std::snprintf(buffer, sizeof buffer, format, args...);
    return std::string(buffer, static_cast<size_t>(std::max(length, 0)));
}

}  // namespace

std::string format_u32(uint32_t value, Digits digits) {
    return printed(digits == Digits::any ? "%" PRIu32 : "%02" PRIu32, value);
}

std::string format_i32(int32_t value, Digits digits) {
    return printed(digits == Digits::any ? "%" PRIi32 : "%02" PRIi32, value);
}

std::string format_u64(uint64_t value) { return printed("%" PRIu64, value); }

std::string format_size(size_t value) { return printed("%zu", value); }

std::string format_hex32(uint32_t value) { return printed("%" PRIx32, value); }

std::string format_hex64(uint64_t value) { return printed("%" PRIx64, value); }

std::string format_double(double value, int width, int precision) {
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value > 0 ? "inf" : "-inf";
    }
    return printed("%*.*f", width, precision, value);
}

uint32_t parse_u32(std::string_view text) {
    const std::string copy(text);
    const char* start = copy.c_str();
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(start, &end, 10);
    const bool digits_only =
        !copy.empty() && copy.find_first_not_of("0123456789") == std::string::npos;
    if (!digits_only || errno == ERANGE || value > UINT32_MAX || *end != '\0') {
        throw error::EParseError("Error parsing: " + quote(text));
    }
    return static_cast<uint32_t>(value);
}

double parse_double(std::string_view text) {
    if (text == "nan") {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (text == "inf") {
        return std::numeric_limits<double>::infinity();
    }
    if (text == "-inf") {
        return -std::numeric_limits<double>::infinity();
    }
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    // strtod also reads hexadecimal and its own spellings of infinity; only
    // plain decimal notation is a number here.
    const bool decimal = copy.find_first_not_of("0123456789+-.eE") == std::string::npos;
    if (copy.empty() || end != copy.c_str() + copy.size() || !decimal) {
        throw error::EParseError("Error parsing: \"" + copy);
    }
    return value;
}

std::string quote(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\a':
                quoted += "\\a";
                break;
            case '\b':
                quoted += "\\b";
                break;
            case '\t':
                quoted += "\\t";
                break;
            case '\n':
                quoted += "\\n";
                break;
            case '\v':
                quoted += "\\v";
                break;
            case '\f':
                quoted += "\\f";
                break;
            case '\r':
                quoted += "\\r";
                break;
            case '"':
                quoted += "\\\"";
                break;
            case '\'':
                quoted += "\\'";
                break;
            case '\\':
                quoted += "\\\\";
                break;
            default:
                if (byte >= 32 && byte <= 126) {
                    quoted += c;
                } else {
                    quoted += printed("\\%03o", byte);
                }
        }
    }
    quoted += '"';
    return quoted;
}

}  // namespace util
