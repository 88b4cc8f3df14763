// Running one tsdbctl verb and saying how it failed, for the command line
// and the shell alike.
#pragma once

#include <optional>
#include <string>

#include "tools/command_line.h"
#include "tools/tsdbctl/verbs.h"

namespace tsdbctl {

struct Failure {
    int status;  // 1 the request failed, 2 the command line is wrong
    std::string text;
};

// Runs the verb; a failure, in an operator's words, is returned, not thrown.
std::optional<Failure> run_verb(const Verb& verb, Context& context, const tools::Arguments& a);

}  // namespace tsdbctl
