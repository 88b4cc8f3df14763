// tsdbctl: the database from a shell. A verb that changes the database
// starts the database process on the file as its child, speaks to it the
// way the product's server does, and stops it by the shutdown protocol; a
// verb that only reads opens the file read-only itself. "shell" keeps one
// process for many commands read from standard input.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <iostream>
#include <optional>
#include <sstream>

#include "error/exception.h"
#include "platform/process.h"
#include "tools/operator_words.h"
#include "tools/options.h"
#include "tools/tsdbctl/read_only_file.h"
#include "tools/tsdbctl/session.h"
#include "tools/tsdbctl/shell.h"
#include "tools/tsdbctl/verb_run.h"
#include "tools/tsdbctl/verbs.h"
#include "tsdb/committed_read.h"
#include "util/crash_reporter.h"
#include "util/system_error.h"
#include "util/time_value.h"

namespace {

using namespace tsdbctl;

const char* const exit_statuses =
    "Exit status: 0 done, 1 the request failed, 2 the command line is wrong.";

int64_t now() { return util::TimeValue::now().seconds(); }

int reported(const std::string& verb, const std::optional<Failure>& failure) {
    if (!failure) {
        return 0;
    }
    std::cerr << "tsdbctl " << verb << ": " << failure->text << "\n";
    if (failure->status == 2) {
        std::cerr << "(tsdbctl " << verb << " --help shows what it takes)\n";
    }
    return failure->status;
}

// A verb that only reads works on the last commit of a file a database
// process may hold: its output is kept back until no commit landed while it
// ran, and the verb runs again when one did.
std::optional<Failure> run_reading(const Verb& verb, const std::string& database,
                                   const tools::Arguments& a, bool verbose) {
    std::optional<Failure> failure;
    std::ostringstream out;
    tsdb::read_committed([&] {
        out.str("");
        ReadOnlyFile file(database, verbose);
        Context context{database, &file, std::cin, out, now(), platform::is_terminal(1)};
        failure = run_verb(verb, context, a);
        return file.unchanged_since_open();
    });
    // Output that did not reach its file (a full disk) is a failure too.
    if (!(std::cout << out.str() << std::flush) && !failure) {
        failure = Failure{1, "cannot write the output: " + util::system_error_text(errno)};
    }
    return failure;
}

int run_command(const Verb& verb, const std::string& database, const tools::Arguments& a,
                bool verbose) {
    std::optional<Failure> failure;
    try {
        if (verb.needs == Needs::reading) {
            failure = run_reading(verb, database, a, verbose);
            return reported(verb.name, failure);
        }
        std::optional<Session> session;
        Backend* backend = nullptr;
        if (verb.needs == Needs::a_process) {
            backend = &session.emplace(database, verbose);
        }
        Context context{database, backend, std::cin, std::cout, now(), platform::is_terminal(1)};
        failure = run_verb(verb, context, a);
        if (session) {
            session->stop();
        }
    } catch (const error::Exception& e) {
        failure = Failure{1, tools::in_operator_words(e.text())};
    }
    return reported(verb.name, failure);
}

// The first command-line word not an option.
std::string first_word(const std::vector<std::string>& words) {
    for (const std::string& word : words) {
        if (!word.starts_with("-")) {
            return word;
        }
    }
    return "";
}

// Before anything else, so that a fault anywhere leaves tsdbctl.dmp.
const bool crash_reporter_installed = [] {
    util::install_crash_reporter();
    return true;
}();

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"The database from a shell: every verb works on the database file DB.", "tsdbctl"};
    app.require_subcommand(1);
    app.fallthrough();
    app.footer(exit_statuses);
    bool verbose = false;
    app.add_flag("-v,--verbose", verbose, "show the database process's log lines");
    const Grammar grammar(app, true);
    std::string shell_database;
    CLI::App& shell_command =
        *app.add_subcommand("shell", "Runs one database process for commands read from input.");
    shell_command.footer(
        "Reads one command per line: a verb and its arguments without DB (\"get 3 --from -6h\"),\n"
        "and answers each with its output, then a status line: \"OK\" with the time it took, or\n"
        "\"ERROR: line N: what failed\". put reads its data up to a line holding only \".\".\n"
        "Blank lines and lines starting with # are skipped; \"help\" lists the verbs; \"quit\"\n"
        "ends. Exit status 1 if any command failed.\n"
        "Example: printf 'create --type continuous --level 1m:1440\\nlast\\n' | tsdbctl shell "
        "db.tsdb");
    shell_command.add_option("DB", shell_database, "the database file")->required();
    const std::string first = argc > 1 ? argv[1] : "";
    if (first.starts_with("-") && first != "-v" && first != "--verbose" && first != "-h" &&
        first != "--help") {
        std::cerr << "tsdbctl: options go after the verb: tsdbctl VERB DB [OPTIONS] (\"" << first
                  << "\" came first; tsdbctl --help lists the verbs)\n";
        return 2;
    }
    const std::string verb = first_word({argv + 1, argv + argc});
    if (!verb.empty() && !tools::has_subcommand(app, verb)) {
        std::cerr << "tsdbctl: unknown verb \"" << verb << "\" (tsdbctl --help lists them)\n";
        return 2;
    }
    if (const auto status = tools::parse_command_line(app, argc, argv)) {
        return *status;
    }
    if (app.got_subcommand("shell")) {
        try {
            return run_shell(shell_database, verbose);
        } catch (const error::Exception& e) {
            return reported("shell", Failure{1, tools::in_operator_words(e.text())});
        }
    }
    const Verb& chosen = *grammar.chosen();
    return run_command(chosen, grammar.database(), grammar.arguments_of(chosen), verbose);
}
