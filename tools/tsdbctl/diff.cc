#include "tools/tsdbctl/diff.h"

#include <iomanip>
#include <map>
#include <optional>

#include "tools/interval_rows.h"
#include "tools/json.h"
#include "tools/options.h"
#include "tools/time_arg.h"
#include "tools/tsdbctl/read_only_file.h"
#include "tools/tsdbctl/series_reads.h"

namespace tsdbctl {

namespace {

// A series' records by start: their fields as CSV writes them.
using Records = std::map<int64_t, std::vector<std::string>>;

struct Stretch {
    int64_t from = 0;
    int64_t to = 0;  // where its last differing record ends
    size_t only_first = 0;
    size_t only_second = 0;
    size_t changed = 0;
};

Records records_of(Backend& backend, uint32_t id, uint32_t& type) {
    type = type_of_existing(backend.client(), id);
    Records records;
    for (const auto& interval : every_record(backend.client(), id, type).items) {
        std::vector<std::string> fields = tools::interval_fields(*interval);
        records.emplace(std::stoll(fields[0]), std::move(fields));
    }
    return records;
}

// Where a record stops: its end, or its time for an incident.
int64_t end_of(const std::vector<std::string>& fields, uint32_t type) {
    return type == tsdb::type_incident ? std::stoll(fields[0]) : std::stoll(fields[1]);
}

// Differing records that follow each other, with no equal record between,
// make one stretch.
std::vector<Stretch> stretches(const Records& first, const Records& second, uint32_t type) {
    std::map<int64_t, int> starts;  // 1 first only, 2 second only, 3 both, differing
    for (const auto& [start, fields] : first) {
        const auto other = second.find(start);
        if (other == second.end()) {
            starts[start] = 1;
        } else if (other->second != fields) {
            starts[start] = 3;
        } else {
            starts[start] = 0;
        }
    }
    for (const auto& [start, fields] : second) {
        starts.try_emplace(start, 2);
    }
    std::vector<Stretch> found;
    std::optional<Stretch> open;
    for (const auto& [start, kind] : starts) {
        if (kind == 0) {
            if (open) {
                found.push_back(*open);
                open.reset();
            }
            continue;
        }
        if (!open) {
            open = Stretch{start, start};
        }
        const auto& fields = kind == 2 ? second.at(start) : first.at(start);
        open->to = std::max(open->to, end_of(fields, type));
        (kind == 1 ? open->only_first : kind == 2 ? open->only_second : open->changed) += 1;
    }
    if (open) {
        found.push_back(*open);
    }
    return found;
}

void write_table(Context& c, const std::vector<Stretch>& found, size_t records, bool utc) {
    if (found.empty()) {
        c.out << "the series hold the same " << records << " records\n";
        return;
    }
    c.out << std::left << std::setw(21) << "from (" + tools::zone_name(utc) + ")" << std::setw(21)
          << "to" << std::right << "only first  only second  different\n";
    for (const Stretch& s : found) {
        c.out << tools::table_time(s.from, utc) << "  " << tools::table_time(s.to, utc) << "  "
              << std::setw(10) << s.only_first << "  " << std::setw(11) << s.only_second << "  "
              << std::setw(9) << s.changed << "\n";
    }
}

void write_json(Context& c, const std::vector<Stretch>& found) {
    tools::Json json;
    json.begin_array();
    for (const Stretch& s : found) {
        json.begin_object().key("from").value(s.from).key("to").value(s.to);
        json.key("only_first").value(uint64_t{s.only_first});
        json.key("only_second").value(uint64_t{s.only_second});
        json.key("different").value(uint64_t{s.changed}).end_object();
    }
    c.out << json.end_array().text() << "\n";
}

}  // namespace

void diff(Context& c, const tools::Arguments& a) {
    const uint32_t first_id = tools::parse_number("ID1", a.at(0), 0, UINT32_MAX - 1);
    const std::string second_database = a.at(1);
    const uint32_t second_id = tools::parse_number("ID2", a.at(2), 0, UINT32_MAX - 1);
    const tools::Format format = tools::format_named(a.value("--format"));
    std::optional<ReadOnlyFile> second_file;
    Backend& second =
        second_database == c.database ? *c.backend : second_file.emplace(second_database, false);
    uint32_t first_type = 0;
    uint32_t second_type = 0;
    const Records first_records = records_of(*c.backend, first_id, first_type);
    const Records second_records = records_of(second, second_id, second_type);
    if (first_type != second_type) {
        throw tools::EBadInput(std::string("the series differ in type: ") +
                               tools::type_name(first_type) + " and " +
                               tools::type_name(second_type));
    }
    const std::vector<Stretch> found = stretches(first_records, second_records, first_type);
    if (format == tools::Format::json) {
        write_json(c, found);
    } else {
        write_table(c, found, first_records.size(), a.has("--utc"));
    }
    if (!found.empty()) {
        throw tools::EBadInput("the series differ in " + std::to_string(found.size()) +
                               (found.size() == 1 ? " stretch" : " stretches"));
    }
}

}  // namespace tsdbctl
