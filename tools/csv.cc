#include "tools/csv.h"

#include "tools/options.h"

namespace tools {

namespace {

// A line without its end: LF, CR LF, or CR alone.
bool read_line(std::istream& in, std::string& line) {
    line.clear();
    std::streambuf& bytes = *in.rdbuf();
    for (int c = bytes.sbumpc(); c != std::char_traits<char>::eof(); c = bytes.sbumpc()) {
        if (c == '\n') {
            return true;
        }
        if (c == '\r') {
            if (bytes.sgetc() == '\n') {
                bytes.sbumpc();
            }
            return true;
        }
        line += static_cast<char>(c);
    }
    return !line.empty();
}

}  // namespace

bool CsvReader::next(std::vector<std::string>& fields) {
    std::string line;
    do {
        if (!read_line(in_, line)) {
            return false;
        }
        line_ = next_line_++;
    } while (line.empty());
    fields.assign(1, "");
    bool quoted = false;
    for (size_t i = 0;; ++i) {
        if (i == line.size()) {
            if (!quoted) {
                return true;
            }
            // A quoted field goes on on the next line.
            if (!read_line(in_, line)) {
                throw EBadInput("line " + std::to_string(line_) + ": a quoted field is not closed");
            }
            ++next_line_;
            fields.back() += '\n';
            i = static_cast<size_t>(-1);
            continue;
        }
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
}

std::string csv_field(std::string_view text) {
    if (text.find_first_of(",\"\n\r") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string csv_row(const std::vector<std::string>& fields) {
    std::string row;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            row += ',';
        }
        row += csv_field(fields[i]);
    }
    return row;
}

}  // namespace tools
