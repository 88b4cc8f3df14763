#include "tools/time_arg.h"

#include <cctype>
#include <ctime>
#include <optional>
#include <utility>

#include "platform/local_time.h"
#include "tools/options.h"

namespace tools {

namespace {

[[noreturn]] void bad_time(const std::string& text) {
    throw UsageError{"cannot read the time \"" + text +
                     "\" (use epoch seconds, now, -1d, -6h, now+30m, -1y, or 2026-12-06T14:05:09)"};
}

std::optional<uint64_t> digits(const std::string& text, size_t from, size_t count) {
    if (from + count > text.size()) {
        return std::nullopt;
    }
    uint64_t n = 0;
    for (size_t i = from; i < from + count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            return std::nullopt;
        }
        n = n * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    return n;
}

std::optional<uint64_t> whole_number(const std::string& text) {
    if (text.empty() || text.size() > 12) {
        return std::nullopt;
    }
    return digits(text, 0, text.size());
}

std::optional<uint32_t> unit_seconds(char unit) {
    switch (unit) {
        case 's':
            return 1;
        case 'm':
            return 60;
        case 'h':
            return 3600;
        case 'd':
            return 86400;
        case 'w':
            return 7 * 86400;
        case 'y':
            return 365 * 86400;
        default:
            return std::nullopt;
    }
}

// "14:05", "14:05:09" into the calendar; the position after it.
std::optional<size_t> clock_time(const std::string& text, size_t at, std::tm& c) {
    const auto hour = digits(text, at, 2);
    const auto minute = digits(text, at + 3, 2);
    if (!hour || !minute || text[at + 2] != ':' || *hour > 23 || *minute > 59) {
        return std::nullopt;
    }
    c.tm_hour = static_cast<int>(*hour);
    c.tm_min = static_cast<int>(*minute);
    at += 5;
    if (at < text.size() && text[at] == ':') {
        const auto second = digits(text, at + 1, 2);
        if (!second || *second > 60) {
            return std::nullopt;
        }
        c.tm_sec = static_cast<int>(*second);
        at += 3;
    }
    return at;
}

// The zone suffix: nothing (local), "Z", "+hh:mm", "+hhmm" or "+hh";
// the offset east of UTC in seconds.
std::optional<std::optional<int64_t>> zone_offset(const std::string& text, size_t at) {
    if (at == text.size()) {
        return std::optional<int64_t>();
    }
    if (text.substr(at) == "Z") {
        return std::optional<int64_t>(0);
    }
    if (text[at] != '+' && text[at] != '-') {
        return std::nullopt;
    }
    const int64_t sign = text[at] == '+' ? 1 : -1;
    const std::string rest = text.substr(at + 1);
    const auto hours = digits(rest, 0, 2);
    std::optional<uint64_t> minutes = rest.size() == 2 ? 0 : std::optional<uint64_t>();
    if (rest.size() == 4) {
        minutes = digits(rest, 2, 2);
    } else if (rest.size() == 5 && rest[2] == ':') {
        minutes = digits(rest, 3, 2);
    }
    if (!hours || !minutes || *hours > 14 || *minutes > 59) {
        return std::nullopt;
    }
    return std::optional<int64_t>(sign * static_cast<int64_t>(*hours * 3600 + *minutes * 60));
}

std::optional<int64_t> iso_8601(const std::string& text) {
    const auto year = digits(text, 0, 4);
    const auto month = digits(text, 5, 2);
    const auto day = digits(text, 8, 2);
    if (!year || !month || !day || text[4] != '-' || text[7] != '-' || *month < 1 || *month > 12 ||
        *day < 1 || *day > 31) {
        return std::nullopt;
    }
    std::tm c{};
    c.tm_year = static_cast<int>(*year) - 1900;
    c.tm_mon = static_cast<int>(*month) - 1;
    c.tm_mday = static_cast<int>(*day);
    size_t at = 10;
    if (at < text.size() && (text[at] == 'T' || text[at] == ' ')) {
        const auto after = clock_time(text, at + 1, c);
        if (!after) {
            return std::nullopt;
        }
        at = *after;
    }
    const auto zone = zone_offset(text, at);
    if (!zone) {
        return std::nullopt;
    }
    if (!*zone) {
        return platform::from_local_calendar(c);
    }
    const auto utc = platform::from_utc_calendar(c);
    return utc ? std::optional<int64_t>(*utc - **zone) : std::nullopt;
}

}  // namespace

int64_t parse_time(const std::string& text, int64_t now) {
    if (text == "now") {
        return now;
    }
    if (text.starts_with("now-") || text.starts_with("now+")) {
        return parse_time(text.substr(3), now);
    }
    if (const auto epoch = whole_number(text)) {
        return static_cast<int64_t>(*epoch);
    }
    if (text.size() >= 3 && (text[0] == '-' || text[0] == '+')) {
        const auto count = whole_number(text.substr(1, text.size() - 2));
        const auto unit = unit_seconds(text.back());
        if (count && unit) {
            const auto span = static_cast<int64_t>(*count * *unit);
            return text[0] == '-' ? now - span : now + span;
        }
    }
    if (const auto t = iso_8601(text)) {
        return *t;
    }
    bad_time(text);
}

uint32_t parse_duration(const std::string& text) {
    const bool has_unit = !text.empty() && !std::isdigit(static_cast<unsigned char>(text.back()));
    const auto count = whole_number(has_unit ? text.substr(0, text.size() - 1) : text);
    const auto unit = has_unit ? unit_seconds(text.back()) : std::optional<uint32_t>(1);
    if (!count || !unit || *count == 0 || *count * *unit > UINT32_MAX) {
        throw UsageError{"cannot read the duration \"" + text + "\" (use 60, 5m, 1h or 1d)"};
    }
    return static_cast<uint32_t>(*count * *unit);
}

namespace {

std::optional<std::tm> calendar(int64_t t, bool utc) {
    const auto when = static_cast<std::time_t>(t);
    return utc ? platform::utc_time(when) : platform::local_time(when).calendar;
}

}  // namespace

std::string table_time(int64_t t, bool utc) {
    const std::optional<std::tm> parts = calendar(t, utc);
    if (!parts) {
        return std::to_string(t);
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &*parts);
    return text;
}

std::string zone_name(bool utc) {
    if (utc) {
        return "UTC";
    }
    const std::optional<std::tm> parts = calendar(std::time(nullptr), utc);
    char name[16] = "local";
    if (parts) {
        std::strftime(name, sizeof name, "%Z", &*parts);
    }
    return name;
}

std::string span_text(int64_t seconds) {
    if (seconds < 0) {
        return "-";
    }
    static constexpr std::pair<int64_t, const char*> units[] = {
        {604800, " w"}, {86400, " d"}, {3600, " h"}, {60, " m"}};
    for (const auto& [size, name] : units) {
        if (seconds >= size && seconds % size == 0) {
            return std::to_string(seconds / size) + name;
        }
    }
    return std::to_string(seconds) + " s";
}

}  // namespace tools
