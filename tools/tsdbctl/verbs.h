// The verbs of tsdbctl and the grammar that declares them on a parser.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "bridge/series_names.h"
#include "tools/command_line.h"
#include "tools/graph.h"
#include "tools/tsdbctl/backend.h"

namespace tsdbctl {

struct Context {
    std::string database;
    Backend* backend;  // null for a verb that needs neither
    std::istream& in;
    std::ostream& out;
    int64_t now;    // seconds since 1970-01-01 UTC
    bool terminal;  // whether `out` is one
    bridge::SeriesNames names = {};
};

enum class Needs {
    nothing,    // makes the file itself
    reading,    // the file read-only, or a running process
    a_process,  // the database process on the file
};

struct Verb {
    std::string name;
    std::string help;
    tools::CommandRules rules;  // after DB, which every verb takes first
    Needs needs;
    std::function<void(Context&, const tools::Arguments&)> run;
};

const std::vector<Verb>& all_verbs();

// The ids of the series the database holds, lowest first.
std::vector<uint32_t> existing_series(Context& c);

// The series an id or a name of the labels file gives; tools::UsageError
// for a text that is neither.
uint32_t series_named(const Context& c, const std::string& text);
// "series 3" or "series 3 (cpu.load)".
std::string series_called(const Context& c, uint32_t id);

struct ChartRange {
    int64_t from;
    int64_t to;
    uint32_t points;
    bool rate = false;  // a counter's rate per second
};
// A series' chart as SVG, titled by its name when `labels` has no title;
// `drawn` gets the intervals it shows.
std::string series_chart(Context& c, uint32_t id, const ChartRange& range,
                         tools::ChartLabels& labels, size_t& drawn);

// The verbs declared as subcommands of a parser, each with what it takes.
class Grammar {
public:
    // On a command line each verb takes DB first; a shell line has no DB
    // and no verb that needs no database.
    Grammar(CLI::App& app, bool with_database);
    Grammar(const Grammar&) = delete;
    Grammar& operator=(const Grammar&) = delete;
    const std::string& database() const { return database_; }
    // The verb the last parse chose, if any.
    const Verb* chosen() const;
    const tools::Arguments& arguments_of(const Verb& verb) const;

private:
    CLI::App& app_;
    std::string database_;
    std::vector<std::pair<const Verb*, std::unique_ptr<tools::Arguments>>> declared_;
};

}  // namespace tsdbctl
