#include "tools/tsdbctl/verbs.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>

#include "tools/counter_rate.h"
#include "tools/creation_options.h"
#include "tools/graph.h"
#include "tools/interval_rows.h"
#include "tools/json.h"
#include "tools/options.h"
#include "tools/png.h"
#include "tools/progress.h"
#include "tools/time_arg.h"
#include "tools/tsdbctl/aligned.h"
#include "tools/tsdbctl/bridge_verbs.h"
#include "tools/tsdbctl/diff.h"
#include "tools/tsdbctl/dump.h"
#include "tools/tsdbctl/fill.h"
#include "tools/tsdbctl/import.h"
#include "tools/tsdbctl/level_options.h"
#include "tools/tsdbctl/resize.h"
#include "tools/tsdbctl/series_reads.h"
#include "tools/tsdbctl/write_check.h"
#include "tools/workload.h"
#include "tsdb/storage_type.h"
#include "util/bytes.h"
#include "util/format.h"
#include "util/time_text.h"

namespace tsdbctl {

namespace {

using tools::Arguments;
using tools::UsageError;

constexpr size_t intervals_per_request = 1000;
constexpr uint32_t requests_in_flight = 32;

parent::TsdbClient& client(Context& c) { return c.backend->client(); }

int64_t time_option(const Context& c, const Arguments& a, const std::string& name) {
    return tools::parse_time(a.value(name), c.now);
}

std::string when(int64_t t) { return t < 0 ? std::to_string(t) : util::time_text(t); }

// On a terminal, for a read of the file itself: which commit it shows.
void say_commit(Context& c) {
    const std::optional<int64_t> by = c.backend->committed_by();
    if (c.terminal && by) {
        c.out << "(the last commit, made by " << when(*by)
              << "; newer records wait in the write buffer or the next commit)\n";
    }
}

std::string layout_text(const tsdb::time_series_layout_t& layout) {
    std::string text = tools::type_name(layout.data_type);
    for (const tsdb::level_t& level : layout.levels) {
        text += ", " + level_text(level);
    }
    return text;
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

// The start of a record that begins more than `reach` before `from` and
// covers it, as one written after a silence spans the silence: looked for
// in windows twice as long each time, back to the epoch. None when the
// latest record before the windows' end ends by `from`.
std::optional<int64_t> start_of_long_record(Context& c, uint32_t id, uint32_t type, int64_t from,
                                            int64_t reach) {
    for (; from - reach > 0; reach *= 2) {
        const tsdb::interval_list earlier = client(c).get(
            {id, tools::protocol_type(type), 0, true, from - 2 * reach, from - reach, 0, 0});
        if (!earlier.items.empty()) {
            const Span last = span_of(*earlier.items.back());
            return last.end > from ? std::optional(last.start) : std::nullopt;
        }
    }
    return std::nullopt;
}

// Every record that overlaps [from, to), or the range grouped into `points`.
tsdb::interval_list read_range(Context& c, uint32_t id, const tsdb::time_series_layout_t& layout,
                               int64_t from, int64_t to, uint32_t points) {
    const uint32_t type = layout.data_type;
    const auto read = [&](int64_t start) {
        return client(c).get(
            {id, tools::protocol_type(type), 0, points == 0, start, to, points, 0});
    };
    if (points > 0 || type == tsdb::type_incident) {
        return read(from);
    }
    // A record mostly starts at most its level's resolution before it ends.
    int64_t reach = 1;
    for (const tsdb::level_t& level : layout.levels) {
        reach = std::max<int64_t>(reach, level.resolution);
    }
    tsdb::interval_list records = read(from - reach);
    const auto starts_by_from = [&](const auto& record) { return span_of(*record).start <= from; };
    if (std::none_of(records.items.begin(), records.items.end(), starts_by_from)) {
        if (const auto start = start_of_long_record(c, id, type, from, reach)) {
            records = read(*start);
        }
    }
    std::erase_if(records.items, [&](const auto& record) { return span_of(*record).end <= from; });
    return records;
}

// Every record the series holds, in all its levels.
size_t records_in(Context& c, uint32_t id, uint32_t type) {
    return every_record(client(c), id, type).size();
}

// Whether the verb's --format asks for JSON (table, the default, or json).
bool json_wanted(const Arguments& a) {
    const std::string format = a.value("--format");
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

// A value scripts read bare, with what it is on a terminal.
std::string labelled(const Context& c, const std::string& label, const std::string& value) {
    return c.terminal ? label + value : value;
}

// What a change did to a series' records.
void report_change(Context& c, uint32_t id, size_t before, size_t after) {
    c.out << "series " << id << ": " << before << " records -> " << after << " records\n";
}

// --- verbs -----------------------------------------------------------------

void init(Context& c, const Arguments& a) {
    if (!a.has("--force") && std::filesystem::exists(c.database)) {
        throw tools::EBadInput(c.database + " exists already (--force replaces it)");
    }
    const tsdb::NewDatabase made = tools::new_database(c.database, a);
    tsdb::create_database(made);
    c.out << tools::creation_summary(made) << "\n";
}

void create(Context& c, const Arguments& a) {
    const tsdb::time_series_layout_t layout{tools::storage_type_named(a.value("--type")),
                                            levels_asked(a)};
    const uint32_t id = client(c).create(keeping_at_least(layout));
    c.out << labelled(c, "created series ", std::to_string(id)) << "\n";
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

std::string stored_text(const tsdb::level_summary_t& level) {
    if (level.records == 0) {
        return "-";
    }
    return std::to_string(level.records) + " records, starting from " + when(*level.oldest_start) +
           " to " + when(*level.newest_start);
}

void describe_json(Context& c, uint32_t id, const tsdb::time_series_layout_t& layout,
                   const std::optional<std::vector<tsdb::level_summary_t>>& stored) {
    tools::Json json;
    json.begin_object();
    write_layout(json, id, layout);
    if (stored) {
        json.key("stored").begin_array();
        for (const tsdb::level_summary_t& level : *stored) {
            json.begin_object().key("records").value(uint64_t{level.records});
            json.key("bytes").value(uint64_t{level.used_bytes});
            json.key("from").number(level.records ? std::to_string(*level.oldest_start) : "");
            json.key("to").number(level.records ? std::to_string(*level.newest_start) : "");
            json.end_object();
        }
        json.end_array();
    }
    c.out << json.end_object().text() << "\n";
}

void describe(Context& c, const Arguments& a) {
    const uint32_t id = series_named(c, a.at(0));
    const bool as_json = json_wanted(a);
    const tsdb::time_series_layout_t layout = client(c).describe(id);
    const auto stored = c.backend->stored_levels(id);
    if (as_json) {
        return describe_json(c, id, layout, stored);
    }
    c.out << "series " << id << ": " << tools::type_name(layout.data_type) << "\n"
          << std::left << std::setw(8) << "level" << std::setw(stored ? 24 : 0) << "capacity"
          << (stored ? "stored" : "") << "\n";
    for (size_t l = 0; l < layout.levels.size(); ++l) {
        c.out << std::setw(8) << l << std::setw(stored ? 24 : 0) << level_text(layout.levels[l])
              << (stored ? stored_text(stored->at(l)) : "") << "\n";
    }
    if (!stored) {
        c.out << "(what each level stores is shown outside the shell, where tsdbctl reads the "
                 "file)\n";
    }
}

void remove(Context& c, const Arguments& a) {
    const uint32_t id = series_named(c, a.at(0));
    const size_t held = records_in(c, id, type_of_existing(client(c), id));
    client(c).remove(id);
    c.out << "deleted series " << id << " and its " << held << " records\n";
}

// The labels file's name and labels of a series, when it names it.
void write_name(const Context& c, tools::Json& json, uint32_t id) {
    if (const bridge::SeriesName* named = c.names.of(id)) {
        json.key("name").value(named->name).key("labels").begin_object();
        for (const bridge::Label& label : named->labels) {
            json.key(label.name).value(label.value);
        }
        json.end_object();
    }
}

// A table's name column, where the labels file names series.
std::string name_cell(const Context& c, uint32_t id) {
    if (c.names.empty()) {
        return "";
    }
    const bridge::SeriesName* named = c.names.of(id);
    std::string cell = named ? named->name : "-";
    return cell + std::string(cell.size() < 15 ? 16 - cell.size() : 1, ' ');
}

void list(Context& c, const Arguments& a) {
    const bool as_json = json_wanted(a);
    const uint32_t capacity = c.backend->series_capacity();
    tools::Json json;
    json.begin_array();
    if (!as_json) {
        c.out << std::left << std::setw(8) << "id" << (c.names.empty() ? "" : "name            ")
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
            write_name(c, json, id);
            json.end_object();
        } else {
            c.out << std::setw(8) << id << name_cell(c, id) << layout_text(layout) << "\n";
        }
    }
    if (as_json) {
        c.out << json.end_array().text() << "\n";
    }
}

// "0, 3 and 7".
std::string a_list(const std::vector<uint32_t>& ids) {
    std::string text;
    for (size_t n = 0; n < ids.size(); ++n) {
        text += (n == 0 ? "" : n + 1 == ids.size() ? " and " : ", ") + std::to_string(ids[n]);
    }
    return text;
}

// The series' newest record, if it holds one: the process keeps it at hand.
tsdb::interval_list read_newest(Context& c, uint32_t id, uint32_t type) {
    return client(c).get({id, tools::protocol_type(type), 0, true, 0, 0, 1, 0});
}

// Where the series' newest record ends, if it holds one.
std::optional<int64_t> newest_end(Context& c, uint32_t id, uint32_t type) {
    const tsdb::interval_list newest = read_newest(c, id, type);
    if (newest.size() == 0) {
        return std::nullopt;
    }
    return occupied_until(*newest.items[0]);
}

// The ids the verb names.
std::vector<uint32_t> ids_given(const Context& c, const Arguments& a) {
    std::vector<uint32_t> ids;
    for (const std::string& text : a.positional()) {
        ids.push_back(series_named(c, text));
    }
    return ids;
}

// The ids the verb names, or every series when it names none.
std::vector<uint32_t> ids_given_or_all(Context& c, const Arguments& a) {
    return a.positional().empty() ? existing_series(c) : ids_given(c, a);
}

struct Newest {
    uint32_t id;
    uint32_t type;
    tsdb::interval_list record;  // empty for a series without records
};

void last_json(Context& c, const std::vector<Newest>& all) {
    tools::Json json;
    json.begin_array();
    for (const Newest& n : all) {
        json.begin_object()
            .key("id")
            .value(uint64_t{n.id})
            .key("type")
            .value(tools::type_name(n.type));
        write_name(c, json, n.id);
        json.key("newest");
        if (n.record.size() == 0) {
            json.number("").end_object();
            continue;
        }
        const std::vector<std::string> header = tools::columns(n.type);
        const std::vector<std::string> fields = tools::interval_fields(*n.record.items[0]);
        json.begin_object();
        for (size_t f = 0; f < fields.size(); ++f) {
            json.key(header[f]);
            header[f] == "message" ? json.value(fields[f]) : json.number(fields[f]);
        }
        json.end_object().end_object();
    }
    c.out << json.end_array().text() << "\n";
}

void last_table(Context& c, const std::vector<Newest>& all, bool utc) {
    c.out << std::left << std::setw(8) << "id" << (c.names.empty() ? "" : "name            ")
          << std::setw(12) << "type"
          << "newest record (times " << tools::zone_name(utc) << ")\n";
    for (const Newest& n : all) {
        c.out << std::setw(8) << n.id << name_cell(c, n.id) << std::setw(12)
              << tools::type_name(n.type);
        if (n.record.size() == 0) {
            c.out << "-\n";
            continue;
        }
        const std::vector<std::string> header = tools::columns(n.type);
        const std::vector<std::string> fields = tools::interval_fields(*n.record.items[0]);
        for (size_t f = 0; f < fields.size(); ++f) {
            const bool time = header[f] == "start" || header[f] == "end" || header[f] == "time";
            c.out << (f == 0 ? "" : "  ") << header[f] << " "
                  << (time                ? tools::table_time(std::stoll(fields[f]), utc)
                      : fields[f].empty() ? "-"
                                          : fields[f]);
        }
        c.out << "\n";
    }
}

void last(Context& c, const Arguments& a) {
    const bool as_json = json_wanted(a);
    std::vector<Newest> all;
    for (uint32_t id : ids_given_or_all(c, a)) {
        const uint32_t type = type_of_existing(client(c), id);
        all.push_back({id, type, read_newest(c, id, type)});
    }
    as_json ? last_json(c, all) : last_table(c, all, a.has("--utc"));
    if (!as_json) {
        say_commit(c);
    }
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
    const uint32_t id = series_named(c, a.at(0));
    const tsdb::time_series_layout_t layout = layout_of_existing(client(c), id);
    const uint32_t type = layout.data_type;
    std::vector<size_t> lines;
    tsdb::interval_list intervals = read_input(c, a, type, lines);
    const size_t n = intervals.size();
    const int64_t incident_step = type == tsdb::type_incident ? layout.levels[0].resolution : 0;
    CheckedWrites checked = check_writes(std::move(intervals), lines,
                                         {newest_end(c, id, type), c.now, a.has("--allow-future"),
                                          a.has("--backfill"), incident_step});
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
    c.out << ((checked.refused.empty() ? written : n) == 1 ? " interval" : " intervals")
          << " to series " << id;
    if (backfilled > 0) {
        c.out << " (" << backfilled << " of them older, merged in)";
    }
    if (!checked.refused.empty()) {
        c.out << "; " << checked.refused.size() << " skipped (" << refusal_summary(checked.refused)
              << ")";
    }
    c.out << "\n";
}

// The rates of a counter series; tools::EBadInput for a series of states or incidents.
tools::CounterRates rates_of(uint32_t id, uint32_t type, const tsdb::interval_list& data) {
    if (type == tsdb::type_enum || type == tsdb::type_incident) {
        throw tools::EBadInput("series " + std::to_string(id) + " holds " + tools::type_name(type) +
                               " data; --rate takes a counter (a monotonic series)");
    }
    return tools::counter_rates(data);
}

// start,end,rate per step; resets are counted after a table, on the error
// output otherwise, so that CSV and JSON stay data.
void write_rates(Context& c, const tools::CounterRates& rates, tools::Format format, bool utc) {
    const auto each = [&](const auto& write) {
        for (const auto& item : rates.rates.items) {
            const auto& r = dynamic_cast<const tsdb::data_interval_continuous_t&>(*item);
            write(r.start, r.end, tools::float_text(r.avg));
        }
    };
    if (format == tools::Format::json) {
        tools::Json json;
        json.begin_array();
        each([&](int64_t start, int64_t end, const std::string& rate) {
            json.begin_object().key("start").value(start);
            json.key("end").value(end).key("rate").number(rate).end_object();
        });
        c.out << json.end_array().text() << "\n";
    } else if (format == tools::Format::csv) {
        c.out << "start,end,rate\n";
        each([&](int64_t start, int64_t end, const std::string& rate) {
            c.out << start << "," << end << "," << rate << "\n";
        });
    } else {
        c.out << std::right << std::setw(19) << "start (" + tools::zone_name(utc) + ")"
              << "  " << std::setw(19) << "end (" + tools::zone_name(utc) + ")"
              << "  rate/s\n";
        each([&](int64_t start, int64_t end, const std::string& rate) {
            c.out << tools::table_time(start, utc) << "  " << tools::table_time(end, utc) << "  "
                  << rate << "\n";
        });
    }
    if (rates.resets > 0) {
        (format == tools::Format::table ? c.out : std::cerr)
            << rates.resets
            << (rates.resets == 1
                    ? " counter reset (the counter fell): no rate for that step\n"
                    : " counter resets (the counter fell): no rate for those steps\n");
    }
}

void get(Context& c, const Arguments& a) {
    const std::vector<uint32_t> ids = ids_given(c, a);
    const int64_t from = time_option(c, a, "--from");
    const int64_t to = time_option(c, a, "--to");
    if (from > to) {
        throw UsageError{"--from " + when(from) + " is later than --to " + when(to)};
    }
    const tools::Format format = tools::format_named(a.value("--format"));
    if (ids.size() > 1 || a.has("--step")) {
        if (a.has("--points")) {
            throw UsageError{"--points groups one series; series on one grid take --step"};
        }
        const int64_t step =
            a.has("--step") ? tools::parse_duration(a.value("--step")) : default_step(from, to);
        const auto cells = static_cast<size_t>((std::max(to - from, int64_t{0}) + step - 1) / step);
        if (cells > 1000000) {
            throw UsageError{"--step " + std::to_string(step) + " gives more than a million rows"};
        }
        return write_aligned(c, ids, {from, step, cells}, format, a.has("--utc"));
    }
    const uint32_t points = tools::parse_number("--points", a.value("--points"), 0, 1000000);
    const tsdb::time_series_layout_t layout = client(c).describe(ids[0]);
    const uint32_t type = layout.data_type;
    if (format == tools::Format::table && c.names.of(ids[0])) {
        c.out << series_called(c, ids[0]) << "\n";
    }
    const tsdb::interval_list data = read_range(c, ids[0], layout, from, to, points);
    if (a.has("--rate")) {
        write_rates(c, rates_of(ids[0], type, data), format, a.has("--utc"));
    } else {
        tools::write_intervals(c.out, format, type, data, a.has("--utc"));
    }
    if (format == tools::Format::table) {
        say_commit(c);
    }
}

void truncate(Context& c, const Arguments& a) {
    const uint32_t id = series_named(c, a.at(0));
    if (!a.has("--before")) {
        throw UsageError{"--before TIME is missing"};
    }
    const int64_t before = time_option(c, a, "--before");
    const uint32_t type = type_of_existing(client(c), id);
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
        const uint32_t id = series_named(c, a.at(0));
        const tsdb::interval_list all = read_range(c, id, client(c).describe(id), 0, c.now + 1, 0);
        if (!all.items.empty()) {
            t = span_of(*all.items.front()).start;
        }
    }
    if (as_json) {
        tools::Json json;
        json.begin_object().key("oldest").number(t ? std::to_string(*t) : "").end_object();
        c.out << json.text() << "\n";
    } else if (!t) {
        c.out << "series " << a.at(0) << " holds no records\n";
    } else {
        c.out << (c.terminal ? "oldest record starts at " + std::to_string(*t) + " " + when(*t)
                             : std::to_string(*t))
              << "\n";
    }
}

void checksum(Context& c, const Arguments& a) {
    const uint32_t id = series_named(c, a.at(0));
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
        c.out << labelled(c, "checksum of series " + a.at(0) + ": ", hex.str()) << "\n";
    }
}

void extract(Context& c, const Arguments& a) {
    const uint32_t id = series_named(c, a.at(0));
    const std::string file = a.value("-o");
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

// A patch file's bytes, refused when it is not a patch of the series' type.
std::string patch_for(const std::string& file, uint32_t type) {
    std::string patch = tools::read_file(file);
    const uint32_t of = patch.size() < 4 ? 0 : util::load_be32(util::bytes_of(patch));
    if (of < tsdb::type_continuous || of > tsdb::type_incident) {
        throw tools::EBadInput(file + " is not a patch (tsdbctl extract writes them)");
    }
    if (of != type) {
        const auto a_type = [](uint32_t t) {
            const std::string name = tools::type_name(t);
            return (name[0] == 'e' || name[0] == 'i' ? "an " : "a ") + name;
        };
        throw tools::EBadInput(file + " is a patch of " + a_type(of) + " series, not of " +
                               a_type(type) + " one");
    }
    return patch;
}

void merge(Context& c, const Arguments& a) {
    const uint32_t id = series_named(c, a.at(0));
    const uint32_t type = type_of_existing(client(c), id);
    const bool fill = a.has("--fill");
    if (fill && a.has("--replace")) {
        throw UsageError{"--fill keeps the series' records, --replace drops them: give one"};
    }
    std::vector<std::string> patches;
    // The series' own records take part in a merge, first, unless they are
    // to be replaced; a fill keeps them as they are.
    if (!fill && !a.has("--replace")) {
        patches.push_back(client(c).extract(id));
    }
    for (size_t i = 1; i < a.positional().size(); ++i) {
        patches.push_back(patch_for(a.at(i), type));
    }
    const size_t held = records_in(c, id, type);
    if (fill) {
        fill_series(client(c), id, type, patches);
    } else {
        client(c).merge(id, patches);
    }
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
    const tools::Format format = tools::format_named(a.value("--format"));
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

// Several series in one chart: their averages as lines (continuous and
// monotonic series only).
std::string chart_of_several(Context& c, const std::vector<uint32_t>& ids, int64_t from, int64_t to,
                             uint32_t points, tools::ChartLabels& labels) {
    std::vector<tsdb::interval_list> data;
    std::vector<tools::NamedSeries> named;
    for (uint32_t id : ids) {
        const tsdb::time_series_layout_t layout = layout_of_existing(client(c), id);
        const uint32_t type = layout.data_type;
        if (type == tsdb::type_enum || type == tsdb::type_incident) {
            throw tools::EBadInput("series " + std::to_string(id) + " holds " +
                                   tools::type_name(type) +
                                   " data; several series share a chart of values only");
        }
        data.push_back(read_range(c, id, layout, from, to, points));
    }
    for (size_t n = 0; n < ids.size(); ++n) {
        named.push_back({series_called(c, ids[n]), &data[n]});
    }
    labels.title = labels.title.empty()
                       ? "series " + a_list(ids) + ", " + when(from) + " to " + when(to)
                       : labels.title;
    return tools::lines_chart(named, from, to, labels);
}

}  // namespace

std::string series_chart(Context& c, uint32_t id, const ChartRange& range,
                         tools::ChartLabels& labels, size_t& drawn) {
    const tsdb::time_series_layout_t layout = layout_of_existing(client(c), id);
    const uint32_t type = layout.data_type;
    tsdb::interval_list data = read_range(c, id, layout, range.from, range.to,
                                          type == tsdb::type_incident ? 0 : range.points);
    if (labels.title.empty()) {
        labels.title = series_called(c, id) + " (" + tools::type_name(type) +
                       (range.rate ? ", rate per second" : "") + "), " + when(range.from) + " to " +
                       when(range.to);
    }
    if (range.rate) {
        data = std::move(rates_of(id, type, data).rates);
        labels.unit += "/s";
    }
    drawn = data.size();
    return tools::chart(range.rate ? tsdb::type_continuous : type, data, range.from, range.to,
                        labels);
}

namespace {

double value_option(const std::string& option, const std::string& text) {
    try {
        return util::parse_double(text);
    } catch (const error::EParseError&) {
        throw UsageError{option + " takes a number, not \"" + text + "\""};
    }
}

// --hrule, --lower, --upper and --logarithmic into the chart's labels.
void value_axis_options(const Arguments& a, tools::ChartLabels& labels) {
    for (const std::string& rule : a.values("--hrule")) {
        const size_t colon = rule.find(':');
        labels.hrules.emplace_back(value_option("--hrule", rule.substr(0, colon)),
                                   colon == std::string::npos ? "" : rule.substr(colon + 1));
    }
    if (a.has("--lower")) {
        labels.lower = value_option("--lower", a.value("--lower"));
    }
    if (a.has("--upper")) {
        labels.upper = value_option("--upper", a.value("--upper"));
    }
    if (labels.lower && labels.upper && !(*labels.lower < *labels.upper)) {
        throw UsageError{"--lower must be below --upper"};
    }
    labels.logarithmic = a.has("--logarithmic");
    if (labels.logarithmic && labels.lower && *labels.lower <= 0) {
        throw UsageError{"a logarithmic axis starts above 0, not at --lower " + a.value("--lower")};
    }
}

void graph(Context& c, const Arguments& a) {
    const std::vector<uint32_t> ids = ids_given(c, a);
    const std::string file = a.value("-o");
    if (file != "-" && !file.ends_with(".svg") && !file.ends_with(".png")) {
        throw UsageError{file.empty()
                             ? "-o FILE is missing (FILE.svg, FILE.png, or - for standard output)"
                             : "-o " + file +
                                   ": charts are .svg or .png files, or - for standard output"};
    }
    const int64_t from = time_option(c, a, "--from");
    const int64_t to = time_option(c, a, "--to");
    const uint32_t points = tools::parse_number("--points", a.value("--points"), 0, 100000);
    tools::ChartLabels labels{
        a.given("--title").value_or(""), a.value("--unit"),
        double(tools::parse_number("--width", a.value("--width"), 200, 10000)),
        double(tools::parse_number("--height", a.value("--height"), 150, 10000))};
    value_axis_options(a, labels);
    std::string svg;
    size_t drawn = 0;
    if (ids.size() > 1) {
        if (a.has("--rate")) {
            throw UsageError{"--rate draws one series"};
        }
        svg = chart_of_several(c, ids, from, to, points, labels);
    } else {
        svg = series_chart(c, ids[0], {from, to, points, a.has("--rate")}, labels, drawn);
    }
    const std::string said = ids.size() > 1 ? "drew series " + a_list(ids)
                                            : "drew " + std::to_string(drawn) +
                                                  (drawn == 1 ? " interval" : " intervals") +
                                                  " of series " + std::to_string(ids[0]);
    if (file == "-") {
        c.out << svg;
        std::cerr << said << "\n";
        return;
    }
    if (file.ends_with(".png")) {
        tools::write_png(svg, labels.width, labels.height, file);
    } else if (std::ofstream out(file, std::ios::trunc); !(out << svg)) {
        throw tools::EBadInput("cannot write " + file);
    }
    c.out << said << " to " << file << "\n";
}

tsdb::time_series_layout_t load_layout(uint32_t type, uint32_t step) {
    if (type == tsdb::type_incident) {
        return {type, {{1u << 20, 1}}};
    }
    return keeping_at_least({type,
                             {{std::max(86400 / step, 1u), step},
                              {2016, std::max(300u, step * 5)},
                              {8760, std::max(3600u, step * 60)}}});
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
    const uint32_t series = tools::parse_number("--series", a.value("--series"), 1, 1000000);
    const uint32_t days = tools::parse_number("--days", a.value("--days"), 1, 3650);
    const uint32_t step = tools::parse_duration(a.value("--step"));
    const uint32_t type = tools::storage_type_named(a.value("--type"));
    const int64_t start =
        a.has("--start") ? time_option(c, a, "--start") : c.now - int64_t{days} * 86400;
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

const tools::PositionalRule series_id{"ID", "the series' id"};

const tools::OptionRule format_option{"--format", "table|json", "how to write the answer", "table"};

tools::CommandRules restore_rules() {
    tools::CommandRules rules = tools::database_creation_rules();
    rules.positional.push_back({"[FILE]", "the dump (default: standard input)"});
    rules.options.push_back(
        {"--partial", "", "restore a dump that stops before its closing line, and say so"});
    return rules;
}

}  // namespace

std::vector<uint32_t> existing_series(Context& c) {
    std::vector<uint32_t> ids;
    for (uint32_t id = 0; id < c.backend->series_capacity(); ++id) {
        try {
            client(c).describe(id);
            ids.push_back(id);
        } catch (const parent::ERequestFailed&) {
            // a free check id
        }
    }
    return ids;
}

uint32_t series_named(const Context& c, const std::string& text) {
    if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) {
        return tools::parse_number("ID", text, 0, UINT32_MAX - 1);
    }
    if (const std::optional<uint32_t> id = c.names.id_named(text)) {
        return *id;
    }
    throw UsageError{"\"" + text + "\" is neither a series id nor a name in the labels file"};
}

std::string series_called(const Context& c, uint32_t id) {
    const bridge::SeriesName* named = c.names.of(id);
    return "series " + std::to_string(id) + (named ? " (" + named->name + ")" : "");
}

const std::vector<Verb>& all_verbs() {
    static const std::vector<Verb> verbs = {
        {"init", "Creates a new, empty database file.", tools::database_creation_rules(),
         Needs::nothing, init},
        {"create",
         "Creates a series and prints its id.\n"
         "Levels go finest first; RES is 60, 5m, 1h or 1d (incident levels count bytes, not\n"
         "records).",
         {{},
          {{"--type", "TYPE", "continuous, enum, monotonic or incident"},
           {"--level", "RES:COUNT", "a level: its resolution and how many records it keeps", "",
            true}}},
         Needs::a_process,
         create},
        {"describe",
         "Shows a series' levels and what each holds.",
         {{series_id}, {format_option}},
         Needs::reading,
         describe},
        {"delete",
         "Deletes a series and its records; a series that does not exist is an error.",
         {{series_id}, {}},
         Needs::a_process,
         remove},
        {"list",
         "Lists every series with its layout.",
         {{}, {format_option}},
         Needs::reading,
         list},
        {"put",
         "Writes CSV data to a series.\n"
         "The header names the columns: start,end,min,avg,max,ngood,nbad (or start,end,value)\n"
         "for continuous and monotonic series, start,end,mask,ngood,nbad for enum series,\n"
         "time,severity,message for incidents; a first line that is not a header and unknown\n"
         "columns are refused. Times are epoch seconds or ISO 8601, local unless they end in Z.\n"
         "Intervals the database would drop or misplace are refused with their line, and\n"
         "nothing is written: values that are not numbers, beyond a 32-bit float or out of\n"
         "order, ends before starts, times outside 1970 to 2106 or more than 5 minutes ahead,\n"
         "intervals older than the series' newest record, and incidents less than the finest\n"
         "level's step after the one before.",
         {{series_id, {"[FILE]", "the CSV file (default: standard input)"}},
          {{"--skip-invalid", "", "write the valid intervals, skip and count the others"},
           {"--backfill", "", "merge intervals older than the newest record into the series"},
           {"--allow-future", "", "take times ahead of the clock"}}},
         Needs::a_process,
         put},
        {"get",
         "Reads a series, or several on one time grid.\n"
         "Times are epoch seconds, ISO 8601, now, or relative like -1d, -6h.\n"
         "Tables show local times (--utc: UTC), naming the zone, and each interval's span.\n"
         "Several ids (or --step) give a row per step and a column per series: the average of\n"
         "the good samples in the step, or the states seen for enum series; the step is about\n"
         "a 500th of the range, in minutes, unless given.\n"
         "Example: tsdbctl get db.tsdb 0 1 2 --from -6h --step 5m --format csv",
         {{{"ID...", "the series"}},
          {{"--from", "TIME", "where the range starts", "-1d"},
           {"--to", "TIME", "where the range ends", "now"},
           {"--points", "N", "group one series' range into N intervals (0: every record)", "0"},
           {"--step", "S", "the grid's step for several series (60, 5m, 1h)"},
           {"--format", "table|csv|json", "how to write the intervals", "table"},
           {"--rate", "", "a counter's rate per second between records (a fall is a reset)"},
           {"--utc", "", "table times in UTC"}}},
         Needs::reading,
         get},
        {"last",
         "Shows the newest record of series, one line each.\n"
         "Example: tsdbctl last db.tsdb 3 7 --format json (no ID: every series).",
         {{{"[ID...]", "the series (default: every series)"}},
          {format_option, {"--utc", "", "table times in UTC"}}},
         Needs::reading,
         last},
        {"truncate",
         "Removes the records that start at or before a time.",
         {{series_id}, {{"--before", "TIME", "the newest start to remove (required)"}}},
         Needs::a_process,
         truncate},
        {"oldest",
         "Shows the time of the oldest record, of the database or of a series.",
         {{{"[ID]", "a series (default: every series)"}}, {format_option}},
         Needs::reading,
         oldest},
        {"checksum",
         "Prints the series' recovery checksum.",
         {{series_id}, {format_option}},
         Needs::reading,
         checksum},
        {"extract",
         "Writes the series' recovery patch to a file.",
         {{series_id}, {{"-o,--output", "PATCH", "the file to write (required)"}}},
         Needs::reading,
         extract},
        {"merge",
         "Merges recovery patches into a series, keeping its own records.\n"
         "Where records overlap, the one with the larger share of good samples wins (for\n"
         "continuous data, then the lower average); on a tie the series' own record wins, then\n"
         "the earlier patch. --fill instead takes from the patches only the records for times\n"
         "where the series holds none.\n"
         "Example: tsdbctl merge db.tsdb 3 series3.patch --fill",
         {{series_id, {"PATCH...", "files written by tsdbctl extract"}},
          {{"--replace", "", "make the series hold only what the patches hold"},
           {"--fill", "", "add only records for times where the series holds none"}}},
         Needs::a_process,
         merge},
        {"metrics",
         "Shows the database process's metrics.",
         {{}, {format_option}},
         Needs::a_process,
         metrics},
        {"graph",
         "Draws a series as a chart, or several as lines in one.\n"
         "SVG, or PNG for a name ending in .png; - writes SVG to standard output. Values\n"
         "carry SI prefixes and the unit (--unit B gives 1.2 GB). Several continuous or\n"
         "monotonic series are drawn as their averages, a colour each, named in a legend.\n"
         "Example: tsdbctl graph db.tsdb 0 1 2 --from -7d -o week.svg",
         {{{"ID...", "the series"}},
          {{"--from", "TIME", "where the range starts", "-1d"},
           {"--to", "TIME", "where the range ends", "now"},
           {"--points", "N", "intervals to group the range into", "400"},
           {"-o,--output", "FILE", "the chart's file, .svg or .png, or - (required)"},
           {"--title", "TEXT", "the chart's title (default: the series and the range)"},
           {"--unit", "UNIT", "the values' unit"},
           {"--width", "PIXELS", "the chart's width", "800"},
           {"--height", "PIXELS", "the chart's height", "300"},
           {"--rate", "", "a counter's rate per second between records (a fall is a reset)"},
           {"--hrule", "VALUE[:LABEL]", "a threshold line across the chart", "", true},
           {"--lower", "VALUE", "the value axis' lowest value"},
           {"--upper", "VALUE", "the value axis' highest value"},
           {"--logarithmic", "", "a logarithmic value axis (values above 0)"}}},
         Needs::reading,
         graph},
        {"diff",
         "Lists the stretches of time where two series hold different records.\n"
         "The series may lie in two databases; DB2 is read-only too. Exit status 1 when\n"
         "they differ. Example: tsdbctl diff a.tsdb 3 b.tsdb 3 --format json",
         {{{"ID1", "the first series, in DB"},
           {"DB2", "the database of the second series (DB itself if the same)"},
           {"ID2", "the second series"}},
          {{"--format", "table|json", "how to write the stretches", "table"},
           {"--utc", "", "table times in UTC"}}},
         Needs::reading,
         diff},
        {"resize",
         "Moves a series to other levels, keeping its id and its data.\n"
         "The database process must not run on the file: tsdbctl works on it itself. Records\n"
         "are folded into the new levels as they would have been written, the oldest dropped\n"
         "where the coarsest level cannot hold them (the count is shown); the switch commits\n"
         "at once, so a crash leaves the series as it was or as asked.\n"
         "Example: tsdbctl resize db.tsdb 3 --level 1m:2880 --level 1h:17520",
         {{series_id},
          {{"--level", "RES:COUNT", "a new level: its resolution and how many records it keeps", "",
            true}}},
         Needs::nothing,
         resize},
        {"import",
         "Makes a continuous series of an RRDtool (.rrd) or whisper (.wsp) file.\n"
         "Prediction (Holt-Winters) archives are left out; levels of values that are not\n"
         "averages (LAST, MAX, whisper's sum) need --as-average; what each level holds is said.\n"
         "A level per archive, with its resolution and rows; every point the file's own tools\n"
         "read back goes into its level, each archive for the time before the next finer one\n"
         "begins. RRD archives of one resolution give minimum, average and maximum where the\n"
         "file keeps MIN, AVERAGE and MAX. The database process must not run on the file.\n"
         "Example: tsdbctl import db.tsdb traffic.rrd --ds in",
         {{{"FILE", "the .rrd or .wsp file"}},
          {{"--ds", "NAME", "the RRD data source (default: the first)"},
           {"--as-average", "",
            "store values that are not averages (LAST, MAX, sum) as averages"}}},
         Needs::nothing,
         import},
        {"dump",
         "Writes every series and every stored record as JSON Lines.\n"
         "A line per series (\"series\", \"type\", \"levels\"), then a line per record with\n"
         "its \"level\" (0 the finest) and its fields as stored. Text that is not UTF-8 is\n"
         "written as U+FFFD. Example: tsdbctl dump db.tsdb > db.jsonl",
         {{}, {}},
         Needs::reading,
         dump},
        {"restore",
         "Makes a new database file from a dump, with the same series, ids and records.\n"
         "Takes the options of init, so that a database can move to another block size or\n"
         "size; every series' checksum is the one it had. The new database is built beside\n"
         "DB and takes its place (--force) only when the whole dump was read and placed: on\n"
         "any failure DB is untouched, so `tsdbctl dump db | tsdbctl restore db --force` is\n"
         "safe. A dump that stops before its closing line is refused unless --partial.\n"
         "Example: tsdbctl dump old.tsdb | tsdbctl restore new.tsdb --size 1G --block-size 8192",
         restore_rules(), Needs::nothing, restore},
        {"export",
         "Exports every committed record as Prometheus metrics.\n"
         "--format openmetrics writes OpenMetrics text for `promtool tsdb create-blocks-from\n"
         "openmetrics`; --remote-write URL pushes with Prometheus remote write, in time order\n"
         "across series, retrying 5xx, 429 and failed connections with backoff; refused\n"
         "samples are counted, named and make the exit status 1. --state keeps what the\n"
         "receiver took, so that a restart sends nothing twice but the batch in flight.\n"
         "Metrics: tsdb_avg, tsdb_min, tsdb_max, tsdb_good_samples, tsdb_bad_samples (continuous\n"
         "and monotonic), tsdb_state_mask (enum), tsdb_incident_severity, at each record's end,\n"
         "labelled check, node, name and the labels file's labels.\n"
         "Example: tsdbctl export db.tsdb --remote-write http://127.0.0.1:9090/api/v1/write "
         "--follow "
         "--state db.export",
         export_rules(), Needs::nothing, export_records},
        {"serve",
         "Serves the records to Prometheus remote read, with a page of charts.\n"
         "POST /api/v1/read answers remote read (samples); GET /metrics the server's own\n"
         "metrics; GET / lists the series with a chart of each. Nothing is written; it works\n"
         "beside a running database process. SIGTERM stops it.\n"
         "Example: tsdbctl serve db.tsdb --listen 127.0.0.1:9201",
         serve_rules(), Needs::nothing, serve},
        {"load",
         "Creates series and writes days of synthetic samples, one per step, to them.",
         {{},
          {{"--series", "N", "series to create", "10"},
           {"--days", "D", "days of samples", "1"},
           {"--step", "S", "seconds between samples", "60"},
           {"--type", "TYPE", "continuous, enum, monotonic or incident", "continuous"},
           {"--start", "TIME", "the first sample's time (default: D days ago)"}}},
         Needs::a_process,
         load},
    };
    return verbs;
}

namespace {

const tools::OptionRule labels_option{
    "--labels", "FILE",
    "the series' names and labels: CSV, \"check,name\" then \"3,cpu.load,host=web1\" "
    "(default: DB.labels when it exists); a name may stand wherever an id does"};

constexpr const char* live_read_help =
    "Works on a file a running database process holds, without a lock: it reads the last\n"
    "commit, and reads again when one lands meanwhile. Records appear at the first commit\n"
    "after their flush from the write buffer: its age limit plus at most 30 s (about\n"
    "10.5 minutes with the product's default of 600 s; 10 s for a process tsdbctl starts).";

}  // namespace

Grammar::Grammar(CLI::App& app, bool with_database) : app_(app) {
    for (const Verb& verb : all_verbs()) {
        if (!with_database && verb.needs == Needs::nothing) {
            continue;
        }
        // The first line goes into the verb list, the rest into the verb's help.
        const size_t line_end = verb.help.find('\n');
        CLI::App& command = *app.add_subcommand(verb.name, verb.help.substr(0, line_end));
        std::string more = line_end != std::string::npos ? verb.help.substr(line_end + 1) : "";
        if (verb.needs == Needs::reading && with_database) {
            more += (more.empty() ? "" : "\n") + std::string(live_read_help);
        }
        if (!more.empty()) {
            command.footer(more);
        }
        if (with_database) {
            command.add_option("DB", database_, "the database file")->required();
        }
        tools::CommandRules rules = verb.rules;
        rules.options.push_back(labels_option);
        declared_.emplace_back(&verb, std::make_unique<tools::Arguments>(command, rules));
    }
}

const Verb* Grammar::chosen() const {
    for (const auto& [verb, arguments] : declared_) {
        if (app_.got_subcommand(verb->name)) {
            return verb;
        }
    }
    return nullptr;
}

const tools::Arguments& Grammar::arguments_of(const Verb& verb) const {
    for (const auto& [declared, arguments] : declared_) {
        if (declared == &verb) {
            return *arguments;
        }
    }
    throw std::logic_error("verb " + verb.name + " is not declared");
}

}  // namespace tsdbctl
