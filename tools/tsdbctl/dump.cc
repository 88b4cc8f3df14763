#include "tools/tsdbctl/dump.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>

#include "tools/creation_options.h"
#include "tools/interval_rows.h"
#include "tools/options.h"
#include "tools/progress.h"
#include "tools/tsdbctl/offline.h"
#include "tools/tsdbctl/patch_records.h"
#include "tsdb/engine.h"
#include "tsdb/record.h"
#include "util/bytes.h"

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

void dump_series(Context& c, uint32_t id) {
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
    for_each_patch_record(layout.data_type, c.backend->client().extract(id), [&](const auto& r) {
        for (; left == 0 && level > 0; left = (*stored)[--level].records) {
        }
        --left;
        ordered_json line{{"series", id}, {"level", level}};
        line.update(record_line(r));
        c.out << line.dump(-1, ' ', false, ordered_json::error_handler_t::replace) << "\n";
    });
}

// --- restore -----------------------------------------------------------------

template <typename T>
T field(const ordered_json& line, const char* name, size_t line_number) {
    if (!line.contains(name)) {
        throw tools::EBadInput("line " + std::to_string(line_number) + ": \"" + name +
                               "\" is missing");
    }
    return line[name].get<T>();
}

// One level of a series being restored: its records as a patch.
struct Restoring {
    uint32_t id;
    uint32_t type;
    uint32_t level;
    std::string patch;
    size_t records = 0;
};

void take_record(Restoring& s, const ordered_json& line, size_t n) {
    const auto u32 = [&](const char* name) { return field<uint32_t>(line, name, n); };
    const auto f32 = [&](const char* name) {
        return static_cast<float>(field<double>(line, name, n));
    };
    const auto encoded = [&](const auto& r) { tsdb::append_record(s.patch, r); };
    if (s.type == tsdb::type_enum) {
        encoded(tsdb::enum_record_t{u32("start"), u32("duration"), u32("ngood"), u32("nbad"),
                                    u32("mask")});
    } else if (s.type == tsdb::type_incident) {
        encoded(tsdb::incident_record_t{u32("start"), u32("duration"), u32("severity"),
                                        field<std::string>(line, "text", n)});
    } else {
        encoded(tsdb::continuous_record_t{u32("start"), u32("duration"), u32("ngood"), u32("nbad"),
                                          f32("min"), f32("max"), f32("avg")});
    }
    ++s.records;
}

// Puts a dump's series back through the engine, in-process: each level's
// records go into the same level as they are.
class Restorer {
public:
    explicit Restorer(tsdb::Engine& engine) : engine_(engine) {}

    void take(const ordered_json& line, size_t n) {
        const uint32_t id = field<uint32_t>(line, "series", n);
        if (!line.contains("level")) {
            place_level();
            begin_series(id, line, n);
            return;
        }
        if (!type_ || id != series_id_) {
            throw tools::EBadInput("line " + std::to_string(n) + ": a record of series " +
                                   std::to_string(id) + " outside its series");
        }
        const uint32_t level = field<uint32_t>(line, "level", n);
        if (!current_ || current_->level != level) {
            place_level();
            current_ = Restoring{id, *type_, level, tsdb::empty_patch(*type_)};
        }
        take_record(*current_, line, n);
    }

    // Ends the restore; the records restored.
    size_t finish() {
        place_level();
        for (uint32_t id : placeholders_) {
            engine_.delete_series(id);
        }
        engine_.flush_all();
        engine_.phase_shift();
        return records_;
    }

    size_t series() const { return series_; }

private:
    void begin_series(uint32_t id, const ordered_json& line, size_t n) {
        tsdb::time_series_layout_t layout{
            tools::storage_type_named(field<std::string>(line, "type", n)), {}};
        for (const ordered_json& level : field<ordered_json>(line, "levels", n)) {
            layout.levels.push_back(
                {field<uint32_t>(level, "size", n), field<uint32_t>(level, "resolution", n)});
        }
        // Ids are given out lowest free first: ids the dump skips are held
        // by placeholders until the end.
        for (uint32_t made = engine_.create_series(layout); made != id;
             made = engine_.create_series(layout)) {
            if (made > id) {
                throw tools::EBadInput("line " + std::to_string(n) + ": series " +
                                       std::to_string(id) + " comes after series " +
                                       std::to_string(made - 1));
            }
            placeholders_.push_back(made);
        }
        series_id_ = id;
        type_ = layout.data_type;
        ++series_;
    }

    void place_level() {
        if (current_) {
            engine_.place(current_->id, current_->level, current_->patch);
            records_ += current_->records;
            current_.reset();
        }
    }

    tsdb::Engine& engine_;
    uint32_t series_id_ = 0;
    std::optional<uint32_t> type_;
    std::optional<Restoring> current_;
    std::vector<uint32_t> placeholders_;
    size_t series_ = 0;
    size_t records_ = 0;
};

void restore_from(Context& c, std::istream& in, tsdb::Engine& engine) {
    Restorer restorer(engine);
    std::string text;
    for (size_t n = 1; std::getline(in, text); ++n) {
        if (text.empty()) {
            continue;
        }
        const ordered_json line = ordered_json::parse(text, nullptr, false);
        if (line.is_discarded() || !line.is_object()) {
            throw tools::EBadInput("line " + std::to_string(n) + " is not a JSON object");
        }
        try {
            restorer.take(line, n);
        } catch (const nlohmann::json::exception& e) {
            throw tools::EBadInput("line " + std::to_string(n) + ": " + e.what());
        }
    }
    const size_t records = restorer.finish();
    c.out << "restored " << restorer.series() << " series and " << records << " records into "
          << c.database << "\n";
}

}  // namespace

void dump(Context& c, const tools::Arguments&) {
    const std::vector<uint32_t> ids = existing_series(c);
    tools::Progress progress("dumping", ids.size(), 100);
    for (uint32_t id : ids) {
        dump_series(c, id);
        progress.advance(1);
    }
}

void restore(Context& c, const tools::Arguments& a) {
    const std::string source = a.positional().empty() ? "-" : a.at(0);
    std::ifstream file;
    if (source != "-" && (file.open(source), !file)) {
        throw tools::EBadInput("cannot read " + source);
    }
    tsdb::create_database(tools::new_database(c.database, a));
    try {
        OfflineDatabase offline(c.database);
        restore_from(c, source == "-" ? c.in : file, offline.engine());
    } catch (...) {
        // Half a database is no backup: the new file goes.
        std::filesystem::remove(c.database);
        throw;
    }
}

}  // namespace tsdbctl
