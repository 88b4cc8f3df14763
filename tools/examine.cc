// tsdb-inspect: looks at a database file without changing it. It opens the
// file read-only (refusing one that a running database process holds) and
// uses the engine's own loading code.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "error/exception.h"
#include "tools/command_line.h"
#include "tools/json.h"
#include "tools/operator_words.h"
#include "tools/options.h"
#include "tsdb/committed_read.h"
#include "tsdb/file/consistency_check.h"
#include "tsdb/file/database.h"
#include "tsdb/level_summary.h"
#include "util/bytes.h"
#include "util/time_value.h"

namespace {

using tsdb::ChainKind;
using tsdb::Database;

// Writes nested fields either as indented "name: value" lines or as JSON.
class Out {
public:
    explicit Out(bool json) : json_(json) {
        if (json_) {
            j_.begin_object();
        }
    }
    void field(const std::string& name, const std::string& value) {
        json_ ? (void)j_.key(name).value(value) : line(name + ": " + value);
    }
    void field(const std::string& name, uint64_t value) {
        json_ ? (void)j_.key(name).value(value) : line(name + ": " + std::to_string(value));
    }
    // A field that only repeats the item's title: JSON needs it, text has it.
    void key_field(const std::string& name, uint64_t value) {
        if (json_) {
            j_.key(name).value(value);
        }
    }
    void key_field(const std::string& name, const std::string& value) {
        if (json_) {
            j_.key(name).value(value);
        }
    }
    void flag(const std::string& name, bool value) {
        json_ ? (void)j_.key(name).value(value) : line(name + ": " + (value ? "yes" : "no"));
    }
    void begin_list(const std::string& name) {
        json_ ? (void)j_.key(name).begin_array() : line(name + ":");
        ++depth_;
    }
    void end_list() {
        --depth_;
        if (json_) {
            j_.end_array();
        }
    }
    void begin_item(const std::string& title) {
        json_ ? (void)j_.begin_object() : line("- " + title);
        ++depth_;
    }
    void end_item() {
        --depth_;
        if (json_) {
            j_.end_object();
        }
    }
    void item(const std::string& text) { json_ ? (void)j_.value(text) : line("- " + text); }
    // What was found, as text lines or one JSON object.
    std::string finish() {
        if (json_) {
            j_.end_object();
            return j_.text() + "\n";
        }
        return text_;
    }

private:
    void line(const std::string& text) {
        text_.append(2 * static_cast<size_t>(depth_), ' ').append(text).append("\n");
    }

    bool json_;
    std::string text_;
    tools::Json j_;
    int depth_ = 0;
};

std::string kind_name(ChainKind kind) { return tsdb::chain_kind_info(kind).name; }

void show_header(Database& db, Out& out) {
    const tsdb::Header& h = db.header();
    out.field("format version", tsdb::Header::version);
    out.field("block size", h.block_size());
    out.field("block count", db.store_block_count());
    out.field("chain copies", h.copies());
    out.begin_list("descriptors");
    for (ChainKind kind : tsdb::all_chain_kinds) {
        for (uint32_t copy = 0; copy < h.copies(); ++copy) {
            out.begin_item(kind_name(kind) + " copy " + std::to_string(copy));
            out.key_field("kind", kind_name(kind));
            out.key_field("copy", copy);
            out.field("generation", h.generation(kind, copy));
            out.field("first dblock", h.first_dblock(kind, copy));
            out.flag("checksum ok", h.checksum_matches(kind, copy));
            out.flag("in use", db.copy_in_use(kind) == copy);
            out.end_item();
        }
    }
    out.end_list();
}

uint32_t differing_entries(const tsdb::PointerChain& a, const tsdb::PointerChain& b) {
    const uint32_t common = std::min(a.capacity(), b.capacity());
    const uint32_t fields = tsdb::chain_kind_info(a.kind()).entry_size / 4;
    uint32_t differ = std::max(a.capacity(), b.capacity()) - common;
    for (uint32_t i = 0; i < common; ++i) {
        bool same = true;
        if (fields == 1) {
            same = a.position(i) == b.position(i);
        } else if (fields == 2) {
            same = a.check_entry(i) == b.check_entry(i);
        } else {
            same = a.lblock_entry(i) == b.lblock_entry(i);
        }
        differ += same ? 0 : 1;
    }
    return differ;
}

void show_chains(Database& db, Out& out) {
    out.begin_list("chains");
    for (ChainKind kind : tsdb::all_chain_kinds) {
        for (const tsdb::PointerChain& copy : db.copies(kind)) {
            out.begin_item(kind_name(kind) + " copy " + std::to_string(copy.copy()) +
                           (db.copy_in_use(kind) == copy.copy() ? " (in use)" : ""));
            out.key_field("kind", kind_name(kind));
            out.key_field("copy", copy.copy());
            out.field("capacity", copy.capacity());
            std::string runs;
            for (const tsdb::ChainRun& run : copy.runs()) {
                runs += (runs.empty() ? "" : ", ") + std::to_string(run.first_dblock) + "+" +
                        std::to_string(run.blocks);
            }
            out.field("runs", runs);
            out.field("entries differing from the copy in use",
                      differing_entries(copy, db.chain(kind)));
            out.end_item();
        }
    }
    out.end_list();
}

void show_space(Database& db, Out& out) {
    // Free blocks as the open found them: the header, the chains and the levels.
    const tsdb::AllocationMap& map = db.allocation();
    std::vector<bool> used(map.size());
    uint32_t allocated = 0;
    uint32_t largest = 0;
    uint32_t run = 0;
    for (uint32_t b = 0; b < map.size(); ++b) {
        used[b] = map.test(b);
        allocated += used[b] ? 1 : 0;
        run = used[b] ? 0 : run + 1;
        largest = std::max(largest, run);
    }
    const uint32_t free = map.size() - allocated;
    out.field("blocks", map.size());
    out.field("allocated", allocated);
    out.field("free", free);
    out.field("largest free run", largest);
    out.field("fragmentation percent", free == 0 ? 0 : 100 - uint64_t{largest} * 100 / free);
    std::string bar;
    constexpr uint32_t width = 64;
    for (uint32_t i = 0; i < width && map.size() > 0; ++i) {
        const uint64_t from = uint64_t{i} * map.size() / width;
        const uint64_t to = std::max(from + 1, uint64_t{i + 1} * map.size() / width);
        uint64_t in_use = 0;
        for (uint64_t b = from; b < to && b < map.size(); ++b) {
            in_use += used[b] ? 1 : 0;
        }
        bar += in_use == 0 ? '.' : in_use * 2 < to - from ? ':' : '#';
    }
    out.field("map", "[" + bar + "]");
}

std::string utc(uint32_t seconds) {
    return util::TimeValue(static_cast<int32_t>(seconds), 0)
        .calendar_text(util::TimeValue::Zone::utc, "%Y-%m-%dT%H:%M:%SZ");
}

void show_level(const tsdb::level_summary_t& level, Out& out) {
    out.begin_item("lblock " + std::to_string(level.lblock));
    out.key_field("lblock", level.lblock);
    out.field("size", level.capacity);
    out.field("resolution", level.resolution);
    out.field("records", level.records);
    out.field("fill percent", level.fill_percent);
    if (level.oldest_start) {
        out.field("from", utc(*level.oldest_start));
        out.field("to", utc(*level.newest_start));
    }
    out.end_item();
}

void show_series(Database& db, Out& out) {
    out.begin_list("series");
    for (uint32_t id = 0; id < db.chain(ChainKind::check).capacity(); ++id) {
        if (!db.check_id_exists(id)) {
            continue;
        }
        out.begin_item("series " + std::to_string(id));
        out.key_field("id", id);
        out.field("data type", db.series(id).data_type);
        out.begin_list("levels");
        for (const tsdb::level_summary_t& level : tsdb::summarize_levels(db, id)) {
            show_level(level, out);
        }
        out.end_list();
        out.end_item();
    }
    out.end_list();
}

void list_lines(const std::string& name, const std::vector<std::string>& lines, Out& out) {
    out.begin_list(name);
    for (const std::string& l : lines) {
        out.item(l);
    }
    out.end_list();
}

// Damage fails the check; a state a crash leaves and the next open completes
// is said, with what the open will do, and passes.
bool run_check(Database& db, Out& out) {
    const tsdb::ConsistencyFindings found = tsdb::check_consistency(db);
    out.field("problems", found.problems.size());
    list_lines("details", found.problems, out);
    out.field("crash states", found.completed_at_open.size());
    list_lines("crash state details", found.completed_at_open, out);
    return found.problems.empty();
}

struct Command {
    const char* name;
    const char* help;
    std::function<bool(Database&, Out&)> show;  // false: problems were found
};

bool shown(void (*show)(Database&, Out&), Database& db, Out& out) {
    show(db, out);
    return true;
}

const Command commands[] = {
    {"header", "format, block size and count, chain descriptors and the copies in use",
     [](Database& db, Out& out) { return shown(show_header, db, out); }},
    {"chains", "each chain kind's copies: runs, capacity, entries differing from the copy in use",
     [](Database& db, Out& out) { return shown(show_chains, db, out); }},
    {"space", "allocated and free blocks, the largest free run, fragmentation",
     [](Database& db, Out& out) { return shown(show_space, db, out); }},
    {"series", "every series with its data type and what each level holds",
     [](Database& db, Out& out) { return shown(show_series, db, out); }},
    {"check",
     "a full consistency check; exit status 1 when problems are found. What a crash leaves "
     "and the next open completes (a deletion half done, levels of an interrupted creation) "
     "is listed with what the open will do, and is not a problem",
     run_check},
};

const tools::CommandRules command_rules{
    {{"DB", "the database file"}},
    {{"--format", "text|json", "how to write what is found", "text"}}};

int run(const Command& command, const tools::Arguments& arguments) {
    const std::string format = arguments.value("--format");
    if (format != "text" && format != "json") {
        std::fprintf(stderr, "tsdb-inspect %s: unknown format \"%s\" (text or json)\n",
                     command.name, format.c_str());
        return 2;
    }
    const std::string path = tools::with_directory(arguments.at(0));
    try {
        // A file a database process holds is read at its last commit, and
        // read again when a commit lands meanwhile.
        std::string found;
        bool clean = false;
        tsdb::read_committed([&] {
            Database db = Database::inspect(
                tsdb::BackingStore::open_backing_store(path, platform::Access::read_only));
            Out out(format == "json");
            clean = command.show(db, out);
            found = out.finish();
            return db.unchanged_since_open();
        });
        std::fputs(found.c_str(), stdout);
        return clean ? 0 : 1;
    } catch (const error::Exception& e) {
        std::fprintf(stderr, "tsdb-inspect %s: %s\n", command.name,
                     tools::in_operator_words(e.text()).c_str());
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Looks at a database file without changing it: read-only, taking no lock. On a "
        "file a running database process holds, it shows the last commit.",
        "tsdb-inspect"};
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 done, 1 the file could not be read or has problems, 2 the command "
        "line is wrong.");
    std::vector<std::unique_ptr<tools::Arguments>> arguments;
    for (const Command& command : commands) {
        arguments.push_back(std::make_unique<tools::Arguments>(
            *app.add_subcommand(command.name, command.help), command_rules));
    }
    if (const auto status = tools::parse_command_line(app, argc, argv)) {
        return *status;
    }
    for (size_t i = 0; i < std::size(commands); ++i) {
        if (app.got_subcommand(commands[i].name)) {
            return run(commands[i], *arguments[i]);
        }
    }
    return 2;
}
