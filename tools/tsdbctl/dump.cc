#include "tools/tsdbctl/dump.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>

#include "platform/descriptor.h"
#include "platform/random_access_file.h"
#include "tools/creation_options.h"
#include "tools/interval_rows.h"
#include "tools/options.h"
#include "tools/progress.h"
#include "tools/tsdbctl/offline.h"
#include "tools/tsdbctl/patch_records.h"
#include "tsdb/engine.h"
#include "tsdb/record.h"
#include "util/bytes.h"
#include "util/system_error.h"

namespace tsdbctl {

namespace {

using nlohmann::ordered_json;

// A record as a dump line, its fields as stored.
ordered_json record_line(const tsdb::continuous_record_t& r) {
    return {{"start", r.timestart}, {"duration", r.duration}, {"ngood", r.ngood},
            {"nbad", r.nbad},       {"min", double{r.min}},   {"avg", double{r.avg}},
            {"max", double{r.max}}};
}
ordered_json record_line(const tsdb::enum_record_t& r) {
    return {{"start", r.timestart},
            {"duration", r.duration},
            {"ngood", r.ngood},
            {"nbad", r.nbad},
            {"mask", r.mask}};
}
ordered_json record_line(const tsdb::incident_record_t& r) {
    return {{"start", r.timestart},
            {"duration", r.duration},
            {"severity", r.severity},
            {"text", r.text}};
}

// Writes the series' lines; the records written.
size_t dump_series(Context& c, uint32_t id) {
    const tsdb::time_series_layout_t layout = c.backend->client().describe(id);
    const auto stored = c.backend->stored_levels(id);
    if (!stored) {
        throw tools::EBadInput("dump reads the file itself; run it outside the shell");
    }
    ordered_json head{{"series", id}, {"type", tools::type_name(layout.data_type)}};
    head["levels"] = ordered_json::array();
    for (const tsdb::level_t& level : layout.levels) {
        head["levels"].push_back({{"size", level.size}, {"resolution", level.resolution}});
    }
    c.out << head.dump() << "\n";
    // The patch holds the records coarsest level first.
    // The levels' records, coarsest level first, as the summary counts them.
    size_t level = stored->size();
    uint32_t left = 0;
    size_t records = 0;
    for_each_patch_record(layout.data_type, c.backend->client().extract(id), [&](const auto& r) {
        for (; left == 0 && level > 0; left = (*stored)[--level].records) {
        }
        --left;
        ordered_json line{{"series", id}, {"level", level}};
        line.update(record_line(r));
        c.out << line.dump(-1, ' ', false, ordered_json::error_handler_t::replace) << "\n";
        ++records;
    });
    return records;
}

// --- restore -----------------------------------------------------------------

// The longest line a dump holds: an incident's text of at most 10 MiB, each
// byte written as at most six characters (\u00XX), and its other fields.
constexpr size_t longest_line = 6 * (size_t{10} << 20) + 4096;

std::string at_line(size_t n) { return "line " + std::to_string(n) + ": "; }

// What a refusal shows of a value: its JSON, cut short.
std::string shown(const ordered_json& value) {
    const std::string text = value.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
    return text.size() > 40 ? text.substr(0, 40) + "..." : text;
}

// A dump line's fields, each taken only when it holds exactly what the
// record stores.
class Fields {
public:
    Fields(const ordered_json& line, size_t n) : line_(line), n_(n) {}

    std::string where() const { return at_line(n_); }
    const ordered_json& at(const char* name) const {
        if (!line_.contains(name)) {
            throw tools::EBadInput(where() + "\"" + name + "\" is missing");
        }
        return line_[name];
    }
    uint32_t u32(const char* name) const {
        const ordered_json& v = at(name);
        if (!v.is_number_unsigned() || v.get<uint64_t>() > UINT32_MAX) {
            refuse(name, "takes a whole number from 0 to 4294967295", v);
        }
        return static_cast<uint32_t>(v.get<uint64_t>());
    }
    float value(const char* name) const {
        const ordered_json& v = at(name);
        if (v.is_null()) {
            return std::numeric_limits<float>::quiet_NaN();  // how a dump writes NaN
        }
        if (!v.is_number()) {
            refuse(name, "takes a number", v);
        }
        const double d = v.get<double>();
        if (!tools::float_holds(d)) {
            refuse(name, "is beyond what a value can hold (about 3.4e38)", v);
        }
        return static_cast<float>(d);
    }
    std::string text(const char* name) const {
        const ordered_json& v = at(name);
        if (!v.is_string()) {
            refuse(name, "takes a text", v);
        }
        return v.get<std::string>();
    }
    const ordered_json& list(const char* name) const {
        const ordered_json& v = at(name);
        if (!v.is_array()) {
            refuse(name, "takes a list", v);
        }
        return v;
    }

private:
    [[noreturn]] void refuse(const char* name, const char* what, const ordered_json& v) const {
        throw tools::EBadInput(at_line(n_) + "\"" + name + "\" " + what + ", not " + shown(v));
    }

    const ordered_json& line_;
    size_t n_;
};

uint32_t type_of(const Fields& f) {
    const std::string name = f.text("type");
    try {
        return tools::storage_type_named(name);
    } catch (const tools::UsageError& unknown) {
        throw tools::EBadInput(f.where() + unknown.text);
    }
}

// One level of a series being restored: its records as a patch.
struct Restoring {
    uint32_t id;
    uint32_t type;
    uint32_t level;
    std::string patch;
    size_t records = 0;
};

// Encodes a record line; returns its start.
uint32_t take_record(Restoring& s, const Fields& f) {
    const uint32_t start = f.u32("start");
    if (s.type == tsdb::type_enum) {
        tsdb::append_record(s.patch, tsdb::enum_record_t{start, f.u32("duration"), f.u32("ngood"),
                                                         f.u32("nbad"), f.u32("mask")});
    } else if (s.type == tsdb::type_incident) {
        tsdb::append_record(s.patch, tsdb::incident_record_t{start, f.u32("duration"),
                                                             f.u32("severity"), f.text("text")});
    } else {
        tsdb::append_record(s.patch, tsdb::continuous_record_t{
                                         start, f.u32("duration"), f.u32("ngood"), f.u32("nbad"),
                                         f.value("min"), f.value("max"), f.value("avg")});
    }
    ++s.records;
    return start;
}

struct Restored {
    size_t series = 0;
    size_t records = 0;
    size_t lines = 0;
    bool whole = false;  // the dump's closing line was read and agrees
};

// Puts a dump's series back through the engine, in-process, under their own
// ids: each level's records go into the same level as they are.
class Restorer {
public:
    explicit Restorer(tsdb::Engine& engine) : engine_(engine) {}

    void take(const ordered_json& line, size_t n) {
        if (done_.whole) {
            throw tools::EBadInput(at_line(n) + "follows the dump's closing line");
        }
        const Fields f(line, n);
        if (line.contains("end")) {
            close(Fields(f.at("end"), n), n);
        } else if (!line.contains("level")) {
            place_level();
            begin_series(f, n);
        } else {
            take_record_line(f, n);
        }
        done_.lines = n;
    }

    // Places what is still pending; what was restored.
    Restored finish() {
        place_level();
        engine_.flush_all();
        engine_.phase_shift();
        return done_;
    }

private:
    void begin_series(const Fields& f, size_t n) {
        const uint32_t id = f.u32("series");
        tsdb::time_series_layout_t layout{type_of(f), {}};
        for (const ordered_json& level : f.list("levels")) {
            const Fields l(level, n);
            layout.levels.push_back({l.u32("size"), l.u32("resolution")});
        }
        if (!ids_.insert(id).second) {
            throw tools::EBadInput(at_line(n) + "series " + std::to_string(id) + " comes twice");
        }
        if (id > tsdb::Engine::max_given_id) {
            throw tools::EBadInput(at_line(n) + "series " + std::to_string(id) + " is above " +
                                   std::to_string(tsdb::Engine::max_given_id) +
                                   ", the highest id a restore gives");
        }
        try {
            engine_.create_series_as(id, layout);
        } catch (const tsdb::error_range& refused) {
            throw tools::EBadInput(at_line(n) + refused.text());
        }
        series_ = {id, layout.data_type, layout.levels.size()};
        last_start_.clear();
        ++done_.series;
    }

    void take_record_line(const Fields& f, size_t n) {
        const uint32_t id = f.u32("series");
        if (!series_ || id != series_->id) {
            throw tools::EBadInput(at_line(n) + "a record of series " + std::to_string(id) +
                                   " outside its series");
        }
        const uint32_t level = f.u32("level");
        if (level >= series_->levels) {
            throw tools::EBadInput(at_line(n) + "\"level\" takes 0 to " +
                                   std::to_string(series_->levels - 1) + " (series " +
                                   std::to_string(id) + "'s levels), not " + std::to_string(level));
        }
        if (!current_ || current_->level != level) {
            place_level();
            current_ = Restoring{id, series_->type, level, tsdb::empty_patch(series_->type)};
        }
        const uint32_t start = take_record(*current_, f);
        const auto [previous, first] = last_start_.emplace(level, start);
        if (!first && start < previous->second) {
            throw tools::EBadInput(at_line(n) + "a record of level " + std::to_string(level) +
                                   " starting at " + std::to_string(start) +
                                   " follows one starting at " + std::to_string(previous->second) +
                                   "; a level's records go oldest first");
        }
        previous->second = start;
    }

    void close(const Fields& end, size_t n) {
        place_level();
        const uint32_t series = end.u32("series");
        const uint32_t records = end.u32("records");
        if (series != done_.series || records != done_.records) {
            throw tools::EBadInput(
                at_line(n) + "the dump's closing line counts " + std::to_string(series) +
                " series and " + std::to_string(records) + " records, but it holds " +
                std::to_string(done_.series) + " and " + std::to_string(done_.records));
        }
        done_.whole = true;
    }

    void place_level() {
        if (current_) {
            engine_.place(current_->id, current_->level, current_->patch);
            done_.records += current_->records;
            current_.reset();
        }
    }

    struct Series {
        uint32_t id;
        uint32_t type;
        size_t levels;
    };

    tsdb::Engine& engine_;
    std::optional<Series> series_;
    std::optional<Restoring> current_;
    std::set<uint32_t> ids_;
    std::map<uint32_t, uint32_t> last_start_;  // per level of the series
    Restored done_;
};

// The next line, without reading more than a line of a dump can hold;
// false at the end of the input.
bool next_line(std::istream& in, std::string& text, size_t n) {
    text.clear();
    for (int c; (c = in.get()) != std::char_traits<char>::eof();) {
        if (c == '\n') {
            return true;
        }
        if (text.size() == longest_line) {
            throw tools::EBadInput(at_line(n) + "is longer than any record's line (" +
                                   std::to_string(longest_line) + " bytes)");
        }
        text.push_back(static_cast<char>(c));
    }
    return !text.empty();
}

Restored restore_from(std::istream& in, tsdb::Engine& engine, bool partial) {
    Restorer restorer(engine);
    std::string text;
    size_t n = 1;
    for (; next_line(in, text, n); ++n) {
        if (text.empty()) {
            continue;
        }
        const ordered_json line = ordered_json::parse(text, nullptr, false);
        if (line.is_discarded() || !line.is_object()) {
            throw tools::EBadInput(at_line(n) + "is not a JSON object");
        }
        restorer.take(line, n);
    }
    const Restored done = restorer.finish();
    if (done.series == 0) {
        throw tools::EBadInput("nothing to restore: the dump holds no series");
    }
    if (!done.whole && !partial) {
        throw tools::EBadInput("the dump ends early, after line " + std::to_string(n - 1) +
                               "; --partial restores what it holds");
    }
    return done;
}

// The target may be replaced only when --force says so and no database
// process holds it.
void refuse_unusable_target(const std::string& target, bool replace) {
    if (!std::filesystem::exists(target)) {
        return;
    }
    if (!replace) {
        throw tools::EBadInput(target + " exists; --force replaces it");
    }
    if (const int error =
            platform::open_random_access_file(target, platform::Access::read_write).error;
        error == EBUSY) {
        util::raise_system_error("cannot replace " + target, error);
    }
}

std::string beside(const std::string& target) {
    const std::filesystem::path path(target);
    std::string name(".");
    name.append(path.filename().string()).append(".restore-").append(std::to_string(getpid()));
    return (path.parent_path() / name).string();
}

}  // namespace

void dump(Context& c, const tools::Arguments&) {
    const std::vector<uint32_t> ids = existing_series(c);
    tools::Progress progress("dumping", ids.size(), 100);
    size_t records = 0;
    for (uint32_t id : ids) {
        records += dump_series(c, id);
        progress.advance(1);
    }
    // The closing line lets a restore tell a whole dump from a cut one.
    c.out << ordered_json{{"end", {{"series", ids.size()}, {"records", records}}}}.dump() << "\n";
}

void restore(Context& c, const tools::Arguments& a) {
    const std::string source = a.positional().empty() ? "-" : a.at(0);
    std::ifstream file;
    if (source != "-" && (file.open(source), !file)) {
        throw tools::EBadInput("cannot read " + source);
    }
    tsdb::NewDatabase made = tools::new_database(c.database, a);
    const std::string target = made.path;
    refuse_unusable_target(target, made.replace);
    // Built beside the target and put in its place only when whole: a
    // failure, or a dump read from the target itself, never touches it.
    made.path = beside(target);
    made.replace = false;
    tsdb::create_database(made);
    Restored done;
    try {
        {
            OfflineDatabase offline(made.path);
            done = restore_from(source == "-" ? c.in : file, offline.engine(), a.has("--partial"));
        }
        refuse_unusable_target(target, true);
        if (const int error = platform::replace_file(made.path, target); error != 0) {
            util::raise_system_error("cannot put the restored database in place of " + target,
                                     error);
        }
    } catch (...) {
        std::filesystem::remove(made.path);
        throw;
    }
    c.out << "restored " << done.series << " series and " << done.records << " records into "
          << target;
    if (!done.whole) {
        c.out << " (the dump ends early, after line " << done.lines << ")";
    }
    c.out << "\n";
}

}  // namespace tsdbctl
