#include "tools/tsdbctl/verbs.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>

#include "bench/workload.h"
#include "tools/create_database.h"
#include "tools/graph.h"
#include "tools/interval_rows.h"
#include "tools/json.h"
#include "tools/options.h"
#include "tools/progress.h"
#include "tools/time_arg.h"
#include "tools/tsdbctl/write_check.h"
#include "util/format.h"
#include "util/time_text.h"

namespace tsdbctl {

namespace {

using tools::UsageError;

constexpr size_t intervals_per_request = 1000;
constexpr uint32_t requests_in_flight = 32;

parent::TsdbClient& client(Context& c) { return c.session->client(); }

uint32_t check_id(const std::string& text) {
    return tools::parse_number("ID", text, 0, UINT32_MAX - 1);
}

int64_t time_option(const Context& c, const Arguments& a, const std::string& name,
                    const std::string& fallback) {
    return tools::parse_time(a.value_or(name, fallback), c.now);
}

std::string when(int64_t t) { return t < 0 ? std::to_string(t) : util::time_text(t); }

std::string level_text(const tsdb::level_t& level) {
    return std::to_string(level.size) + " x " + std::to_string(level.resolution) + " s";
}

std::string layout_text(const tsdb::time_series_layout_t& layout) {
    std::string text = tools::type_name(layout.data_type);
    for (const tsdb::level_t& level : layout.levels) {
        text += ", " + level_text(level);
    }
    return text;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw tools::EBadInput("cannot read " + path);
    }
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Sends the intervals in requests of intervals_per_request, a bounded
// number in flight, and raises the first failure.
void put_all(Context& c, uint32_t id, int32_t data_type, tsdb::interval_list& intervals) {
    tools::Progress progress("writing", intervals.size());
    std::vector<uint32_t> sent;
    for (size_t first = 0; first < intervals.size(); first += intervals_per_request) {
        tsdb::Put_Data_Data put{queues::queue_main, id, tsdb::PUT_Append, data_type, {}};
        const size_t last = std::min(intervals.size(), first + intervals_per_request);
        for (size_t i = first; i < last; ++i) {
            put.data.items.push_back(std::move(intervals.items[i]));
        }
        sent.push_back(client(c).put_async(put));
        progress.advance(last - first);
        if (sent.size() % requests_in_flight == 0) {
            client(c).sync();
        }
    }
    client(c).sync();
    for (uint32_t uid : sent) {
        client(c).check(uid);
    }
}

tsdb::interval_list read_range(Context& c, uint32_t id, uint32_t type, int64_t from, int64_t to,
                               uint32_t points) {
    return client(c).get({id, tools::protocol_type(type), 0, points == 0, from, to, points, 0});
}

// The series' data type; a series that does not exist is an error that says so.
uint32_t type_of_existing(Context& c, uint32_t id) {
    try {
        return client(c).describe(id).data_type;
    } catch (const parent::ERequestFailed&) {
        throw tools::EBadInput("series " + std::to_string(id) + " does not exist");
    }
}

// Every record the series holds, in all its levels.
size_t records_in(Context& c, uint32_t id, uint32_t type) {
    return read_range(c, id, type, 0, int64_t{1} << 32, 0).size();
}

// Whether the verb's --format asks for JSON (table, the default, or json).
bool json_wanted(const Arguments& a) {
    const std::string format = a.value_or("--format", "table");
    if (format != "table" && format != "json") {
        throw UsageError{"unknown format \"" + format + "\" (table or json)"};
    }
    return format == "json";
}

void write_layout(tools::Json& json, uint32_t id, const tsdb::time_series_layout_t& layout) {
    json.key("id").value(uint64_t{id});
    json.key("type").value(tools::type_name(layout.data_type));
    json.key("levels").begin_array();
    for (const tsdb::level_t& level : layout.levels) {
        json.begin_object();
        json.key("size").value(uint64_t{level.size});
        json.key("resolution").value(uint64_t{level.resolution});
        json.end_object();
    }
    json.end_array();
}

// What a change did to a series' records.
void report_change(Context& c, uint32_t id, size_t before, size_t after) {
    c.out << "series " << id << ": " << before << " records -> " << after << " records\n";
}

// --- verbs -----------------------------------------------------------------

void init(Context& c, const Arguments& a) {
    tools::NewDatabase options;
    options.path = tools::with_directory(c.database);
    options.block_size =
        tools::parse_number("--block-size", a.value_or("--block-size", "4096"), 1024, 16384);
    if (options.block_size % 1024 != 0) {
        throw UsageError{"--block-size must be a multiple of 1024"};
    }
    options.chain_copies = tools::parse_number("--chains", a.value_or("--chains", "3"), 2, 5);
    const auto given = [&a](const char* option) {
        return a.has(option) ? std::optional<std::string>(a.value_or(option, "")) : std::nullopt;
    };
    options.blocks = tools::database_blocks(given("--size"), given("--blocks"), options.block_size);
    options.replace = a.has("--force");
    tools::create_database(options);
    c.out << "created " << c.database << ": " << options.blocks << " blocks of "
          << options.block_size << " bytes, " << options.chain_copies << " copies of each chain\n";
}

tsdb::level_t level_argument(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        throw UsageError{"--level takes RESOLUTION:COUNT, like 1m:1440, not \"" + text + "\""};
    }
    return {tools::parse_number("--level count", text.substr(colon + 1), 1, UINT32_MAX),
            tools::parse_duration(text.substr(0, colon))};
}

void create(Context& c, const Arguments& a) {
    tsdb::time_series_layout_t layout{tools::storage_type_named(a.value_or("--type", "")), {}};
    for (const std::string& level : a.values("--level")) {
        layout.levels.push_back(level_argument(level));
    }
    if (layout.levels.empty()) {
        throw UsageError{"give at least one --level RESOLUTION:COUNT"};
    }
    for (size_t l = 1; l < layout.levels.size(); ++l) {
        if (layout.levels[l].resolution <= layout.levels[l - 1].resolution) {
            throw UsageError{"levels go from the finest to the coarsest: level " +
                             std::to_string(l + 1) + " (" + level_text(layout.levels[l]) +
                             ") is not coarser than level " + std::to_string(l) + " (" +
                             level_text(layout.levels[l - 1]) + ")"};
        }
    }
    const uint32_t id = client(c).create(layout);
    c.out << id << "\n";
    uint64_t records = 0;
    uint64_t bytes = 0;
    for (const tsdb::level_t& level : client(c).describe(id).levels) {
        records += level.size;
        bytes += uint64_t{level.size} * tsdb::record_unit_size(layout.data_type);
    }
    std::cerr << "series " << id << ": " << layout.levels.size() << " levels, room for " << records
              << (layout.data_type == tsdb::type_incident ? " bytes of incidents" : " records")
              << " (" << bytes << " bytes)\n";
    if (layout.data_type == tsdb::type_incident && layout.levels[0].resolution > 1) {
        std::cerr << "note: an incident less than " << layout.levels[0].resolution
                  << " s after a kept one is folded into it\n";
    }
}

struct LevelContents {
    size_t records = 0;
    int64_t first = 0;
    int64_t last = 0;
};

// What each level holds: a record belongs to the finest level whose
// resolution its span does not exceed (aggregates span at most that).
std::vector<LevelContents> level_contents(const tsdb::time_series_layout_t& layout,
                                          const tsdb::interval_list& records) {
    std::vector<LevelContents> levels(layout.levels.size());
    for (const auto& i : records.items) {
        const auto [start, end] = span_of(*i);
        size_t l = 0;
        while (l + 1 < levels.size() && end - start > layout.levels[l].resolution) {
            ++l;
        }
        LevelContents& level = levels[l];
        level.first = level.records++ == 0 ? start : std::min(level.first, start);
        level.last = std::max(level.last, end);
    }
    return levels;
}

void describe(Context& c, const Arguments& a) {
    const uint32_t id = check_id(a.at(0));
    const bool as_json = json_wanted(a);
    const tsdb::time_series_layout_t layout = client(c).describe(id);
    const std::vector<LevelContents> contents =
        level_contents(layout, read_range(c, id, layout.data_type, 0, c.now + 1, 0));
    if (as_json) {
        tools::Json json;
        json.begin_object();
        write_layout(json, id, layout);
        json.key("stored").begin_array();
        for (const LevelContents& level : contents) {
            json.begin_object().key("records").value(uint64_t{level.records});
            json.key("from").number(level.records ? std::to_string(level.first) : "");
            json.key("to").number(level.records ? std::to_string(level.last) : "");
            json.end_object();
        }
        json.end_array().end_object();
        c.out << json.text() << "\n";
        return;
    }
    c.out << "series " << id << ": " << tools::type_name(layout.data_type) << "\n"
          << std::left << std::setw(8) << "level" << std::setw(24) << "capacity"
          << "stored\n";
    for (size_t l = 0; l < layout.levels.size(); ++l) {
        c.out << std::setw(8) << l << std::setw(24) << level_text(layout.levels[l]);
        if (contents[l].records == 0) {
            c.out << "-\n";
        } else {
            c.out << contents[l].records << " records from " << when(contents[l].first) << " to "
                  << when(contents[l].last) << "\n";
        }
    }
}

void remove(Context& c, const Arguments& a) {
    const uint32_t id = check_id(a.at(0));
    const size_t held = records_in(c, id, type_of_existing(c, id));
    client(c).remove(id);
    c.out << "deleted series " << id << " and its " << held << " records\n";
}

// The number of check ids in use: the process says it when it looks for the
// oldest record.
uint32_t check_capacity(Context& c) {
    c.session->take_log();
    client(c).oldest();
    for (const std::string& line : c.session->take_log()) {
        if (line.rfind("We have ", 0) == 0) {
            return static_cast<uint32_t>(std::stoul(line.substr(8)));
        }
    }
    throw parent::EChild("the database process did not say how many series it holds");
}

void list(Context& c, const Arguments& a) {
    const bool as_json = json_wanted(a);
    const uint32_t capacity = check_capacity(c);
    tools::Json json;
    json.begin_array();
    if (!as_json) {
        c.out << std::left << std::setw(8) << "id"
              << "layout\n";
    }
    for (uint32_t id = 0; id < capacity; ++id) {
        tsdb::time_series_layout_t layout;
        try {
            layout = client(c).describe(id);
        } catch (const parent::ERequestFailed&) {
            continue;  // a free check id
        }
        if (as_json) {
            write_layout(json.begin_object(), id, layout);
            json.end_object();
        } else {
            c.out << std::setw(8) << id << layout_text(layout) << "\n";
        }
    }
    if (as_json) {
        c.out << json.end_array().text() << "\n";
    }
}

// Where the series' newest record ends, if it holds one.
std::optional<int64_t> newest_end(Context& c, uint32_t id, uint32_t type) {
    const tsdb::interval_list newest =
        client(c).get({id, tools::protocol_type(type), 0, true, 0, 0, 1, 0});
    if (newest.size() == 0) {
        return std::nullopt;
    }
    return occupied_until(*newest.items[0]);
}

tsdb::interval_list read_input(Context& c, const Arguments& a, uint32_t type,
                               std::vector<size_t>& lines) {
    const std::string source = a.positional().size() > 1 ? a.at(1) : "-";
    if (source == "-") {
        return tools::read_intervals(c.in, type, c.now, &lines);
    }
    std::ifstream file(source);
    if (!file) {
        throw tools::EBadInput("cannot read " + source);
    }
    return tools::read_intervals(file, type, c.now, &lines);
}

void put(Context& c, const Arguments& a) {
    const uint32_t id = check_id(a.at(0));
    const uint32_t type = type_of_existing(c, id);
    std::vector<size_t> lines;
    tsdb::interval_list intervals = read_input(c, a, type, lines);
    const size_t n = intervals.size();
    CheckedWrites checked = check_writes(
        std::move(intervals), lines,
        {newest_end(c, id, type), c.now, a.has("--allow-future"), a.has("--backfill")});
    if (!checked.refused.empty() && !a.has("--skip-invalid")) {
        throw tools::EBadInput("line " + std::to_string(checked.refused.front().line) + ": " +
                               checked.refused.front().rule +
                               "; nothing written (--skip-invalid writes the rest)");
    }
    const size_t backfilled = checked.older.size();
    put_all(c, id, tools::protocol_type(type), checked.appended);
    if (backfilled > 0) {
        // Older records join the stored ones the way a recovery merge does.
        client(c).put({queues::queue_main, id, tsdb::PUT_Rebuild, tools::protocol_type(type),
                       std::move(checked.older)});
    }
    const size_t written = n - checked.refused.size();
    c.out << "wrote " << written;
    if (!checked.refused.empty()) {
        c.out << " of " << n;
    }
    c.out << " intervals to series " << id;
    if (backfilled > 0) {
        c.out << " (" << backfilled << " of them older, merged in)";
    }
    if (!checked.refused.empty()) {
        c.out << "; " << checked.refused.size() << " skipped (" << refusal_summary(checked.refused)
              << ")";
    }
    c.out << "\n";
}

void get(Context& c, const Arguments& a) {
    const uint32_t id = check_id(a.at(0));
    const int64_t from = time_option(c, a, "--from", "-1d");
    const int64_t to = time_option(c, a, "--to", "now");
    const uint32_t points =
        tools::parse_number("--points", a.value_or("--points", "0"), 0, 1000000);
    const tools::Format format = tools::format_named(a.value_or("--format", "table"));
    const uint32_t type = client(c).describe(id).data_type;
    tools::write_intervals(c.out, format, type, read_range(c, id, type, from, to, points),
                           a.has("--utc"));
}

void truncate(Context& c, const Arguments& a) {
    const uint32_t id = check_id(a.at(0));
    if (!a.has("--before")) {
        throw UsageError{"--before TIME is missing"};
    }
    const int64_t before = time_option(c, a, "--before", "");
    const uint32_t type = type_of_existing(c, id);
    const size_t held = records_in(c, id, type);
    client(c).truncate(id, before);
    report_change(c, id, held, records_in(c, id, type));
}

void oldest(Context& c, const Arguments& a) {
    const bool as_json = json_wanted(a);
    std::optional<int64_t> t;
    if (a.positional().empty()) {
        t = client(c).oldest();
    } else {
        const uint32_t id = check_id(a.at(0));
        const uint32_t type = client(c).describe(id).data_type;
        const tsdb::interval_list all = read_range(c, id, type, 0, c.now + 1, 0);
        if (!all.items.empty()) {
            std::ostringstream first;
            tools::write_intervals(first, tools::Format::csv, type, all);
            std::istringstream rows(first.str());
            std::string line;
            std::getline(rows, line);
            std::getline(rows, line);
            t = std::stoll(line);
        }
    }
    if (as_json) {
        tools::Json json;
        json.begin_object().key("oldest").number(t ? std::to_string(*t) : "").end_object();
        c.out << json.text() << "\n";
    } else if (!t) {
        c.out << "series " << a.at(0) << " holds no records\n";
    } else {
        c.out << *t << " " << when(*t) << "\n";
    }
}

void checksum(Context& c, const Arguments& a) {
    const uint32_t id = check_id(a.at(0));
    const bool as_json = json_wanted(a);
    std::ostringstream hex;
    for (unsigned char byte : client(c).checksum(id)) {
        hex << std::hex << std::setw(2) << std::setfill('0') << int(byte);
    }
    if (as_json) {
        tools::Json json;
        json.begin_object().key("id").value(uint64_t{id}).key("checksum").value(hex.str());
        c.out << json.end_object().text() << "\n";
    } else {
        c.out << hex.str() << "\n";
    }
}

void extract(Context& c, const Arguments& a) {
    const uint32_t id = check_id(a.at(0));
    const std::string file = a.value_or("-o", "");
    if (file.empty()) {
        throw UsageError{"-o PATCH is missing"};
    }
    const std::string patch = client(c).extract(id);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!(out << patch)) {
        throw tools::EBadInput("cannot write " + file);
    }
    c.out << "wrote " << patch.size() << " bytes of series " << id << " to " << file << "\n";
}

void merge(Context& c, const Arguments& a) {
    const uint32_t id = check_id(a.at(0));
    const uint32_t type = type_of_existing(c, id);
    std::vector<std::string> patches;
    // The series' own records take part, first, unless they are to be replaced.
    if (!a.has("--replace")) {
        patches.push_back(client(c).extract(id));
    }
    for (size_t i = 1; i < a.positional().size(); ++i) {
        patches.push_back(read_file(a.at(i)));
    }
    const size_t held = records_in(c, id, type);
    client(c).merge(id, patches);
    report_change(c, id, held, records_in(c, id, type));
}

struct MetricRow {
    std::string name;  // the path, parts joined by "/"
    control::Metric metric;
    uint64_t value = 0;  // counters
    control::Return_Metric_Timing_Data timing;
};

void collect_metrics(Context& c, const control::Metric_Group& group, std::vector<std::string>& path,
                     std::vector<MetricRow>& rows) {
    for (const control::Metric& m : group.metrics) {
        path.push_back(m.name);
        MetricRow row{"", m, 0, {}};
        for (const std::string& p : path) {
            row.name += (row.name.empty() ? "" : "/") + p;
        }
        if (m.type == 2) {
            row.value = client(c).counter(path);
        } else {
            row.timing = client(c).timing(path);
        }
        rows.push_back(std::move(row));
        path.pop_back();
    }
    for (const control::Metric_Group& g : group.groups) {
        path.push_back(g.name);
        collect_metrics(c, g, path, rows);
        path.pop_back();
    }
}

double timing_average(const control::Return_Metric_Timing_Data& t) {
    return t.n == 0 ? 0.0 : double(t.sum) / double(t.n);
}

void metrics_json(std::ostream& out, const std::vector<MetricRow>& rows) {
    tools::Json json;
    json.begin_array();
    for (const MetricRow& r : rows) {
        json.begin_object().key("name").value(r.name).key("unit").value(r.metric.unit);
        if (r.metric.type == 2) {
            json.key("value").value(r.value);
        } else {
            json.key("n").value(r.timing.n).key("min").value(r.timing.n == 0 ? 0 : r.timing.min);
            json.key("max").value(r.timing.max).key("avg").value(timing_average(r.timing));
        }
        json.key("description").value(r.metric.desc).end_object();
    }
    out << json.end_array().text() << "\n";
}

void metrics(Context& c, const Arguments& a) {
    const tools::Format format = tools::format_named(a.value_or("--format", "table"));
    std::vector<MetricRow> rows;
    std::vector<std::string> path;
    collect_metrics(c, client(c).metrics(), path, rows);
    if (format == tools::Format::json) {
        return metrics_json(c.out, rows);
    }
    for (const MetricRow& r : rows) {
        c.out << std::left << std::setw(36) << r.name;
        if (r.metric.type == 2) {
            c.out << r.value << "\n";
        } else {
            c.out << r.timing.n << " samples, avg "
                  << util::format_double(timing_average(r.timing), 0, 1) << " " << r.metric.unit
                  << ", max " << r.timing.max << " " << r.metric.unit << "\n";
        }
    }
}

void graph(Context& c, const Arguments& a) {
    const uint32_t id = check_id(a.at(0));
    const std::string file = a.value_or("-o", "");
    if (file.empty()) {
        throw UsageError{"-o FILE.svg is missing (- for standard output)"};
    }
    const int64_t from = time_option(c, a, "--from", "-1d");
    const int64_t to = time_option(c, a, "--to", "now");
    const uint32_t points =
        tools::parse_number("--points", a.value_or("--points", "400"), 0, 100000);
    const uint32_t type = type_of_existing(c, id);
    const tsdb::interval_list data =
        read_range(c, id, type, from, to, type == tsdb::type_incident ? 0 : points);
    const tools::ChartLabels labels{
        a.value_or("--title", "series " + std::to_string(id) + " (" + tools::type_name(type) +
                                  "), " + when(from) + " to " + when(to)),
        a.value_or("--unit", "")};
    const std::string svg = tools::chart(type, data, from, to, labels);
    const std::string said =
        "drew " + std::to_string(data.size()) + " intervals of series " + std::to_string(id);
    if (file == "-") {
        c.out << svg;
        std::cerr << said << "\n";
        return;
    }
    std::ofstream out(file, std::ios::trunc);
    if (!(out << svg)) {
        throw tools::EBadInput("cannot write " + file);
    }
    c.out << said << " to " << file << "\n";
}

tsdb::time_series_layout_t load_layout(uint32_t type, uint32_t step) {
    if (type == tsdb::type_incident) {
        return {type, {{1u << 20, 1}}};
    }
    return {type,
            {{std::max(86400 / step, 1u), step},
             {2016, std::max(300u, step * 5)},
             {8760, std::max(3600u, step * 60)}}};
}

void add_samples(workload::Samples& samples, uint32_t type, uint32_t series, uint32_t m,
                 uint32_t step, tsdb::interval_list& out) {
    if (type == tsdb::type_enum) {
        const tsdb::enum_record_t r = samples.state_at(series, m);
        out.items.push_back(std::make_unique<tsdb::data_interval_enum_t>(
            r.mask, r.ngood, r.nbad, r.timestart, int64_t{r.timestart} + step));
    } else if (type == tsdb::type_incident) {
        if (const auto r = samples.incident_at(series, m)) {
            out.items.push_back(std::make_unique<tsdb::data_interval_incident_t>(
                r->severity, r->text, r->timestart));
        }
    } else {
        const tsdb::continuous_record_t r = samples.at(series, m);
        out.items.push_back(std::make_unique<tsdb::data_interval_continuous_t>(
            r.timestart, int64_t{r.timestart} + step, r.min, r.avg, r.max, r.ngood, r.nbad));
    }
}

void load(Context& c, const Arguments& a) {
    const uint32_t series =
        tools::parse_number("--series", a.value_or("--series", "10"), 1, 1000000);
    const uint32_t days = tools::parse_number("--days", a.value_or("--days", "1"), 1, 3650);
    const uint32_t step = tools::parse_duration(a.value_or("--step", "60"));
    const uint32_t type = tools::storage_type_named(a.value_or("--type", "continuous"));
    const int64_t start =
        a.has("--start") ? time_option(c, a, "--start", "") : c.now - int64_t{days} * 86400;
    const uint32_t steps_per_day = std::max(86400 / step, 1u);
    std::vector<uint32_t> ids;
    for (uint32_t s = 0; s < series; ++s) {
        ids.push_back(client(c).create(load_layout(type, step)));
    }
    workload::Samples samples(42, static_cast<uint32_t>(start), step);
    const auto began = std::chrono::steady_clock::now();
    uint64_t records = 0;
    tools::Progress progress("loading", uint64_t{series} * days * steps_per_day, 1);
    uint32_t in_flight = 0;
    for (uint32_t day = 0; day < days; ++day) {
        for (uint32_t s = 0; s < series; ++s) {
            tsdb::Put_Data_Data put{
                queues::queue_main, ids[s], tsdb::PUT_Append, tools::protocol_type(type), {}};
            for (uint32_t m = day * steps_per_day; m < (day + 1) * steps_per_day; ++m) {
                add_samples(samples, type, s, m, step, put.data);
            }
            records += put.data.size();
            client(c).put_async(put);
            progress.advance(steps_per_day);
            if (++in_flight % requests_in_flight == 0) {
                client(c).sync();
            }
        }
    }
    client(c).sync();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    c.out << "loaded " << records << " " << tools::type_name(type) << " records into " << series
          << " series (ids " << ids.front() << " to " << ids.back() << ") in "
          << util::format_double(seconds, 0, 2)
          << " s: " << util::format_double(double(records) / std::max(seconds, 1e-9), 0, 0)
          << " records/s\n";
}

const std::vector<std::string> time_range = {"--from", "--to"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

const std::vector<Verb>& all_verbs() {
    static const std::vector<Verb> verbs = {
        {"init",
         "[--block-size B] [--chains N] [--size BYTES|--blocks N] [--force]",
         "Creates a new, empty database file (default 64M in blocks of 4096 bytes). --size\n"
         "takes bytes, with K, M or G; --blocks a number of blocks.",
         {{"--block-size", "--chains", "--size", "--blocks"}, {"--force"}, 0, 0},
         false,
         init},
        {"create",
         "--type continuous|enum|monotonic|incident --level RES:COUNT ...",
         "Creates a series and prints its id. Levels go finest first; RES is 60, 5m, 1h or 1d\n"
         "(incident levels count bytes, not records).",
         {{"--type", "--level"}, {}, 0, 0},
         true,
         create},
        {"describe",
         "ID [--format table|json]",
         "Shows a series' levels and what each holds.",
         {{"--format"}, {}, 1, 1},
         true,
         describe},
        {"delete",
         "ID",
         "Deletes a series and its records; a series that does not exist is an error.",
         {{}, {}, 1, 1},
         true,
         remove},
        {"list",
         "[--format table|json]",
         "Lists every series with its layout.",
         {{"--format"}, {}, 0, 0},
         true,
         list},
        {"put",
         "ID [FILE|-] [--skip-invalid] [--backfill] [--allow-future]",
         "Writes CSV data to a series (standard input without FILE). The header names the\n"
         "columns: start,end,min,avg,max,ngood,nbad (or start,end,value) for continuous and\n"
         "monotonic series, start,end,mask,ngood,nbad for enum series, time,severity,message\n"
         "for incidents. Times are epoch seconds or ISO 8601, local unless they end in Z.\n"
         "Intervals the database would drop or misplace are refused with their line, and\n"
         "nothing is written: values that are not numbers or out of order, ends before\n"
         "starts, times outside 1970 to 2106 or more than 5 minutes ahead, and intervals\n"
         "older than the series' newest record. --skip-invalid writes the rest, --backfill\n"
         "merges older intervals into what the series holds, --allow-future takes times\n"
         "ahead of the clock.",
         {{}, {"--skip-invalid", "--backfill", "--allow-future"}, 1, 2},
         true,
         put},
        {"get",
         "ID [--from T] [--to T] [--points N] [--format table|csv|json] [--utc]",
         "Reads a series (default: the last day). Times are epoch seconds, ISO 8601, now,\n"
         "or relative like -1d, -6h. --points N groups the data into N intervals. Tables\n"
         "show local times (--utc: UTC), naming the zone, and each interval's span.",
         {with(time_range, {"--points", "--format"}), {"--utc"}, 1, 1},
         true,
         get},
        {"truncate",
         "ID --before T",
         "Removes the records that start at or before T.",
         {{"--before"}, {}, 1, 1},
         true,
         truncate},
        {"oldest",
         "[ID] [--format table|json]",
         "Shows the time of the oldest record, of the database or of a series.",
         {{"--format"}, {}, 0, 1},
         true,
         oldest},
        {"checksum",
         "ID [--format table|json]",
         "Prints the series' recovery checksum.",
         {{"--format"}, {}, 1, 1},
         true,
         checksum},
        {"extract",
         "ID -o PATCH",
         "Writes the series' recovery patch to a file.",
         {{"-o"}, {}, 1, 1},
         true,
         extract},
        {"merge",
         "ID PATCH ... [--replace]",
         "Merges recovery patches into a series, keeping its own records. Where records\n"
         "overlap, the one with the larger share of good samples wins (for continuous data,\n"
         "then the lower average); on a tie the series' own record wins, then the earlier\n"
         "patch. --replace makes the series hold only what the patches hold.",
         {{}, {"--replace"}, 2, 64},
         true,
         merge},
        {"metrics",
         "[--format table|json]",
         "Shows the database process's metrics.",
         {{"--format"}, {}, 0, 0},
         true,
         metrics},
        {"graph",
         "ID [--from T] [--to T] [--points N] [--title T] [--unit U] -o FILE.svg|-",
         "Draws a series as an SVG chart (default: the last day in 400 points), with its\n"
         "values in SI prefixes and U after them (--unit B gives 1.2 GB); - writes the chart\n"
         "to standard output.",
         {with(time_range, {"--points", "-o", "--title", "--unit"}), {}, 1, 1},
         true,
         graph},
        {"load",
         "[--series N] [--days D] [--step S] [--type T] [--start T]",
         "Creates N series and writes D days of synthetic samples, one per step, to them.",
         {{"--series", "--days", "--step", "--type", "--start"}, {}, 0, 0},
         true,
         load},
    };
    return verbs;
}

const Verb* find_verb(const std::string& name) {
    for (const Verb& v : all_verbs()) {
        if (v.name == name) {
            return &v;
        }
    }
    return nullptr;
}

std::string verb_usage(const Verb& verb) {
    return "usage: tsdbctl [-v] " + verb.name + " DB" +
           (verb.synopsis.empty() ? "" : " " + verb.synopsis) + "\n" + verb.help + "\n";
}

}  // namespace tsdbctl
