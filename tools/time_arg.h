// Times as people type them on a command line or in a CSV file.
#pragma once

#include <cstdint>
#include <string>

namespace tools {

// Seconds since 1970-01-01 UTC from: epoch seconds ("1700000000"), "now",
// a span before or after now ("-1d", "-6h", "+30m", "-90s", "-2w", "-1y" of 365
// days, also as "now-1d" or "now+30m"), or ISO
// 8601 ("2026-12-06", "2026-12-06T14:05", "2026-12-06 14:05:09"), in local
// time unless it ends with "Z" or an offset ("+01:00", "-0500").
// Throws UsageError naming the text otherwise.
int64_t parse_time(const std::string& text, int64_t now);

// Seconds from "60", "5m", "1h", "1d" or "1w".
uint32_t parse_duration(const std::string& text);

// A time for a table: "2026-12-06 14:05:09", in UTC or in local time.
std::string table_time(int64_t t, bool utc);
// The zone table_time() writes in: "UTC", or the local zone's name.
std::string zone_name(bool utc);
// A span as the largest whole unit: "60 s", "5 m", "1 h", "2 d"; "-" below 0.
std::string span_text(int64_t seconds);

}  // namespace tools
