// Comma-separated values: fields split at commas, a field with a comma, a
// quote or a line end enclosed in double quotes, quotes inside doubled.
#pragma once

#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

class CsvReader {
public:
    explicit CsvReader(std::istream& in) : in_(in) {}
    // The next row's fields; false at the end. Blank lines are skipped.
    // Throws EBadInput for a quote left open.
    bool next(std::vector<std::string>& fields);
    // The line the last row started on, from 1.
    size_t line() const { return line_; }

private:
    std::istream& in_;
    size_t line_ = 0;
    size_t next_line_ = 1;
};

// The field as it must stand in a row.
std::string csv_field(std::string_view text);
std::string csv_row(const std::vector<std::string>& fields);

}  // namespace tools
