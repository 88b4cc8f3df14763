// The verbs of tsdbctl. Each runs against a database process that the
// caller started (one per command, or one for a whole shell).
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "tools/tsdbctl/arguments.h"
#include "tools/tsdbctl/session.h"

namespace tsdbctl {

struct Context {
    std::string database;
    Session* session;  // null for verbs that need no process
    std::istream& in;
    std::ostream& out;
    int64_t now;  // seconds since 1970-01-01 UTC
    bool verbose;
};

struct Verb {
    std::string name;
    std::string synopsis;  // the words after "tsdbctl VERB DB"
    std::string help;
    ArgumentRules rules;
    bool needs_process;
    std::function<void(Context&, const Arguments&)> run;
};

const std::vector<Verb>& all_verbs();
// Null for an unknown name.
const Verb* find_verb(const std::string& name);
std::string verb_usage(const Verb& verb);

}  // namespace tsdbctl
