#include "tools/interval_rows.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iomanip>
#include <limits>
#include <map>
#include <optional>

#include "tools/csv.h"
#include "tools/json.h"
#include "tools/options.h"
#include "tools/time_arg.h"
#include "tsdb/layout.h"
#include "util/format.h"
#include "util/time_text.h"

namespace tools {

using tsdb::data_interval_continuous_t;
using tsdb::data_interval_enum_t;
using tsdb::data_interval_incident_t;

namespace {

constexpr const char* names[] = {"continuous", "enum", "monotonic", "incident"};

// The fields of one CSV row by column name.
class Row {
public:
    Row(const std::map<std::string, size_t>& header, const std::vector<std::string>& fields,
        int64_t now)
        : header_(header), fields_(fields), now_(now) {}

    const std::string* text(const std::string& column) const {
        const auto found = header_.find(column);
        return found == header_.end() ? nullptr : &fields_.at(found->second);
    }
    int64_t time(const std::string& column) const {
        try {
            return parse_time(required(column), now_);
        } catch (const UsageError& bad) {
            throw EBadInput(bad.text);
        }
    }
    uint32_t count(const std::string& column, std::optional<uint32_t> missing = {}) const {
        if (text(column) == nullptr && missing) {
            return *missing;
        }
        try {
            return util::parse_u32(required(column));
        } catch (const error::EParseError&) {
            throw EBadInput(column + " must be a whole number, not " +
                            util::quote(required(column)));
        }
    }
    // An empty value reads as 0 where there are no good samples to give it.
    float number(const std::string& column, bool may_be_empty) const {
        if (may_be_empty && required(column).empty()) {
            return 0;
        }
        double value = 0;
        try {
            value = util::parse_double(required(column));
        } catch (const error::EParseError&) {
            throw EBadInput(column + " must be a number, not " + util::quote(required(column)));
        }
        if (!float_holds(value)) {
            throw EBadInput(column + " " + required(column) +
                            " is beyond what a value can hold (about 3.4e38)");
        }
        return static_cast<float>(value);
    }
    const std::string& required(const std::string& column) const {
        const std::string* t = text(column);
        if (t == nullptr) {
            throw EBadInput("the header has no column \"" + column + "\"");
        }
        return *t;
    }

private:
    const std::map<std::string, size_t>& header_;
    const std::vector<std::string>& fields_;
    int64_t now_;
};

std::unique_ptr<tsdb::data_interval_t> interval_of(const Row& row, uint32_t storage_type) {
    switch (storage_type) {
        case tsdb::type_enum:
            return std::make_unique<data_interval_enum_t>(row.count("mask"), row.count("ngood", 1),
                                                          row.count("nbad", 0), row.time("start"),
                                                          row.time("end"));
        case tsdb::type_incident:
            return std::make_unique<data_interval_incident_t>(
                row.count("severity"), row.required("message"), row.time("time"));
        default: {
            const bool single = row.text("value") != nullptr;
            const uint32_t ngood = row.count("ngood", 1);
            return std::make_unique<data_interval_continuous_t>(
                row.time("start"), row.time("end"),
                row.number(single ? "value" : "min", ngood == 0),
                row.number(single ? "value" : "avg", ngood == 0),
                row.number(single ? "value" : "max", ngood == 0), ngood, row.count("nbad", 0));
        }
    }
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ",") + name;
    }
    return text;
}

// What a header of the type must name, in a sentence.
std::string expected_header(uint32_t storage_type) {
    const std::string all = joined(columns(storage_type));
    if (storage_type == tsdb::type_continuous || storage_type == tsdb::type_monotonic) {
        return all + " (or start,end,value; ngood and nbad may be left out)";
    }
    return all + (storage_type == tsdb::type_enum ? " (ngood and nbad may be left out)" : "");
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// The header's columns by name: only the type's own, each once, those it
// needs all there. A byte-order mark and spaces around names are dropped.
std::map<std::string, size_t> header_of(std::vector<std::string> names, uint32_t storage_type) {
    if (!names.empty() && names[0].starts_with("\xEF\xBB\xBF")) {
        names[0].erase(0, 3);
    }
    std::vector<std::string> known = columns(storage_type);
    const bool values =
        storage_type == tsdb::type_continuous || storage_type == tsdb::type_monotonic;
    if (values) {
        known.emplace_back("value");
    }
    std::map<std::string, size_t> header;
    for (size_t c = 0; c < names.size(); ++c) {
        const std::string name = trimmed(names[c]);
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            throw EBadInput(
                header.empty() && c == 0
                    ? "the first line must name the columns: " + expected_header(storage_type) +
                          "; \"" + name + "\" is not one"
                    : "unknown column \"" + name + "\" (a " + type_name(storage_type) +
                          " series takes " + expected_header(storage_type) + ")");
        }
        if (!header.emplace(name, c).second) {
            throw EBadInput("the column \"" + name + "\" is named twice");
        }
    }
    std::vector<std::string> needed = {"start", "end", "mask"};
    if (storage_type == tsdb::type_incident) {
        needed = {"time", "severity", "message"};
    } else if (values) {
        needed = {"start", "end"};
        const bool single = header.contains("value");
        for (const char* each : {"min", "avg", "max"}) {
            if (single && header.contains(each)) {
                throw EBadInput("value stands for min, avg and max: give it or them, not both");
            }
            if (!single) {
                needed.emplace_back(each);
            }
        }
    }
    for (const std::string& name : needed) {
        if (!header.contains(name)) {
            throw EBadInput("the header has no column \"" + name + "\" (a " +
                            type_name(storage_type) + " series takes " +
                            expected_header(storage_type) + ")");
        }
    }
    return header;
}

// The shortest text that reads back as the same float.
// Values of an interval with no good samples mean nothing: they are empty.
std::string value_text(const data_interval_continuous_t& c, float value) {
    return c.ngood == 0 ? "" : float_text(value);
}

bool is_time_column(const std::string& column) {
    return column == "start" || column == "end" || column == "time";
}

void write_table(std::ostream& out, const std::vector<std::string>& columns,
                 const tsdb::interval_list& intervals, bool utc) {
    // Times name their zone; intervals show their span after their end.
    std::vector<std::string> header;
    for (const std::string& column : columns) {
        header.push_back(is_time_column(column) ? column + " (" + zone_name(utc) + ")" : column);
        if (column == "end") {
            header.emplace_back("span");
        }
    }
    std::vector<std::vector<std::string>> rows{header};
    for (const auto& i : intervals.items) {
        const std::vector<std::string> fields = interval_fields(*i);
        std::vector<std::string> row;
        for (size_t c = 0; c < fields.size(); ++c) {
            if (is_time_column(columns[c])) {
                row.push_back(table_time(std::stoll(fields[c]), utc));
            } else if (fields[c].empty() && columns[c] != "message") {
                row.emplace_back(1, '-');
            } else {
                row.push_back(fields[c]);
            }
            if (columns[c] == "end") {
                row.push_back(span_text(std::stoll(fields[c]) - std::stoll(fields[0])));
            }
        }
        rows.push_back(std::move(row));
    }
    std::vector<size_t> width(header.size(), 0);
    for (const auto& row : rows) {
        for (size_t c = 0; c < row.size(); ++c) {
            width[c] = std::max(width[c], row[c].size());
        }
    }
    for (const auto& row : rows) {
        for (size_t c = 0; c < row.size(); ++c) {
            const bool last = c + 1 == row.size();
            out << (last ? std::left : std::right) << std::setw(last ? 0 : int(width[c])) << row[c]
                << (last ? "\n" : "  ");
        }
    }
}

void write_json(std::ostream& out, const std::vector<std::string>& header,
                const tsdb::interval_list& intervals) {
    Json json;
    json.begin_array();
    for (const auto& i : intervals.items) {
        const std::vector<std::string> fields = interval_fields(*i);
        json.begin_object();
        for (size_t c = 0; c < fields.size(); ++c) {
            json.key(header[c]);
            if (header[c] == "message") {
                json.value(fields[c]);
            } else {
                json.number(fields[c]);
            }
        }
        json.end_object();
    }
    json.end_array();
    out << json.text() << "\n";
}

}  // namespace

bool float_holds(double value) { return !(std::fabs(value) > std::numeric_limits<float>::max()); }

std::string float_text(float value) {
    char text[32];
    const auto [end, failed] = std::to_chars(text, text + sizeof text, value);
    return failed == std::errc{} ? std::string(text, end) : "nan";
}

std::string double_text(double value) {
    char text[32];
    const auto [end, failed] = std::to_chars(text, text + sizeof text, value);
    return failed == std::errc{} ? std::string(text, end) : "nan";
}

const char* type_name(uint32_t storage_type) {
    return storage_type >= 1 && storage_type <= 4 ? names[storage_type - 1] : "unknown";
}

uint32_t storage_type_named(const std::string& name) {
    for (uint32_t t = 1; t <= 4; ++t) {
        if (name == names[t - 1]) {
            return t;
        }
    }
    throw UsageError{"unknown type \"" + name + "\" (continuous, enum, monotonic or incident)"};
}

int32_t protocol_type(uint32_t storage_type) {
    switch (storage_type) {
        case tsdb::type_continuous:
            return 5;
        case tsdb::type_enum:
            return 3;
        case tsdb::type_monotonic:
            return 6;
        default:
            return 4;
    }
}

std::vector<std::string> interval_fields(const tsdb::data_interval_t& i) {
    using std::to_string;
    if (const auto* c = dynamic_cast<const tsdb::data_interval_continuous_t*>(&i)) {
        return {to_string(c->start),    to_string(c->end),      value_text(*c, c->min),
                value_text(*c, c->avg), value_text(*c, c->max), to_string(c->ngood),
                to_string(c->nbad)};
    }
    if (const auto* e = dynamic_cast<const tsdb::data_interval_enum_t*>(&i)) {
        return {to_string(e->start), to_string(e->end), to_string(e->mask), to_string(e->ngood),
                to_string(e->nbad)};
    }
    const auto& incident = dynamic_cast<const tsdb::data_interval_incident_t&>(i);
    return {to_string(incident.itime), to_string(incident.sev), incident.msg};
}

std::vector<std::string> columns(uint32_t storage_type) {
    switch (storage_type) {
        case tsdb::type_enum:
            return {"start", "end", "mask", "ngood", "nbad"};
        case tsdb::type_incident:
            return {"time", "severity", "message"};
        default:
            return {"start", "end", "min", "avg", "max", "ngood", "nbad"};
    }
}

tsdb::interval_list read_intervals(std::istream& in, uint32_t storage_type, int64_t now,
                                   std::vector<size_t>* lines) {
    CsvReader csv(in);
    std::vector<std::string> fields;
    tsdb::interval_list intervals;
    if (!csv.next(fields)) {
        return intervals;
    }
    std::map<std::string, size_t> header;
    try {
        header = header_of(fields, storage_type);
    } catch (const EBadInput& bad) {
        throw EBadInput("line " + std::to_string(csv.line()) + ": " + bad.text());
    }
    while (csv.next(fields)) {
        try {
            if (fields.size() != header.size()) {
                throw EBadInput(std::to_string(fields.size()) + " fields where the header has " +
                                std::to_string(header.size()));
            }
            intervals.items.push_back(interval_of(Row(header, fields, now), storage_type));
            if (lines != nullptr) {
                lines->push_back(csv.line());
            }
        } catch (const EBadInput& bad) {
            throw EBadInput("line " + std::to_string(csv.line()) + ": " + bad.text());
        }
    }
    return intervals;
}

Format format_named(const std::string& name) {
    if (name == "table") {
        return Format::table;
    }
    if (name == "csv") {
        return Format::csv;
    }
    if (name == "json") {
        return Format::json;
    }
    throw UsageError{"unknown format \"" + name + "\" (table, csv or json)"};
}

void write_intervals(std::ostream& out, Format format, uint32_t storage_type,
                     const tsdb::interval_list& intervals, bool utc) {
    const std::vector<std::string> header = columns(storage_type);
    switch (format) {
        case Format::table:
            return write_table(out, header, intervals, utc);
        case Format::json:
            return write_json(out, header, intervals);
        case Format::csv:
            out << csv_row(header) << "\n";
            for (const auto& i : intervals.items) {
                out << csv_row(interval_fields(*i)) << "\n";
            }
    }
}

}  // namespace tools
