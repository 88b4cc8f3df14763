// tsdbctl: the database from a shell. Every verb starts the database
// process on the file as its child, speaks to it the way the product's
// server does, and stops it by the shutdown protocol; "shell" keeps one
// process for many commands read from standard input.
#include <cerrno>
#include <iostream>
#include <optional>
#include <string_view>

#include "error/exception.h"
#include "platform/process.h"
#include "tools/options.h"
#include "tools/tsdbctl/verbs.h"
#include "util/system_error.h"
#include "util/time_value.h"

namespace {

using namespace tsdbctl;

const char* const usage_text =
    "usage: tsdbctl [-v] VERB DB [ARGUMENTS]\n"
    "       tsdbctl VERB --help\n"
    "verbs: init create describe delete list put get truncate oldest checksum extract merge\n"
    "       metrics graph load shell\n"
    "  -v  show the database process's log lines on the error output\n"
    "Exit status: 0 done, 1 the request failed, 2 the command line is wrong.\n";

const char* const shell_help =
    "usage: tsdbctl [-v] shell DB\n"
    "Runs one database process and reads commands from standard input, one per line:\n"
    "a verb and its arguments without DB (\"get 3 --from -6h\"). Blank lines and lines\n"
    "starting with # are skipped; \"quit\" ends. Exit status 1 if any command failed.\n";

struct Failure {
    int status;
    std::string text;
};

// Runs one verb; failures are returned, not thrown.
std::optional<Failure> run_verb(const Verb& verb, Context& context,
                                const std::vector<std::string>& words) {
    try {
        verb.run(context, Arguments(words, verb.rules));
        // Output that did not reach its file (a full disk) is a failure too.
        if (!(context.out << std::flush)) {
            return Failure{1, "cannot write the output: " + util::system_error_text(errno)};
        }
        return std::nullopt;
    } catch (const tools::UsageError& e) {
        return Failure{2, e.text};
    } catch (const error::Exception& e) {
        return Failure{1, e.text()};
    }
}

int64_t now() { return util::TimeValue::now().seconds(); }

// Replaces every `from` in the text by `to`.
std::string replaced(std::string text, std::string_view from, std::string_view to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// The database's wording of a failure, in an operator's terms.
std::string in_operator_words(const std::string& text) {
    std::string said =
        replaced(text, "Invalid magic in header", "not a database file (tsdbctl init makes one)");
    said = replaced(said, "Device or resource busy", "held by another process; stop it first");
    const std::string_view unallocated = "Referenced unallocated check_id (";
    const size_t at = said.find(unallocated);
    const size_t end = at == std::string::npos ? at : said.find(')', at);
    if (end != std::string::npos) {
        const std::string id = said.substr(at + unallocated.size(), end - at - unallocated.size());
        said.replace(at, end + 1 - at,
                     "series " + id + " does not exist (tsdbctl list shows those that do)");
    }
    return said;
}

int shell(const std::string& database, bool verbose) {
    Session session(database, verbose);
    const bool interactive = platform::is_terminal(0);
    int status = 0;
    std::string line;
    while ((interactive && std::cerr << "tsdb> " << std::flush), std::getline(std::cin, line)) {
        std::vector<std::string> words;
        try {
            words = split_words(line);
        } catch (const tools::UsageError& e) {
            std::cerr << "tsdbctl: " << e.text << "\n";
            status = 1;
            continue;
        }
        if (words.empty() || words[0].starts_with("#")) {
            continue;
        }
        if (words[0] == "quit" || words[0] == "exit") {
            break;
        }
        const Verb* verb = find_verb(words[0]);
        if (verb == nullptr || !verb->needs_process) {
            std::cerr << "tsdbctl: \"" << words[0] << "\" is not a verb of the shell\n";
            status = 1;
            continue;
        }
        Context context{database, &session, std::cin, std::cout, now(), verbose};
        words.erase(words.begin());
        if (const auto failure = run_verb(*verb, context, words)) {
            std::cerr << "tsdbctl " << verb->name << ": " << in_operator_words(failure->text)
                      << "\n";
            status = 1;
        }
        std::cout << std::flush;
    }
    session.stop();
    return status;
}

int run(std::vector<std::string> words) {
    const bool verbose = !words.empty() && (words[0] == "-v" || words[0] == "--verbose");
    if (verbose) {
        words.erase(words.begin());
    }
    if (words.empty() || words[0] == "--help" || words[0] == "-h") {
        std::cout << usage_text;
        return words.empty() ? 2 : 0;
    }
    const std::string name = words[0];
    const Verb* verb = find_verb(name);
    const bool wants_help = std::find(words.begin(), words.end(), "--help") != words.end();
    if (name == "shell") {
        if (wants_help || words.size() != 2) {
            (wants_help ? std::cout : std::cerr) << shell_help;
            return wants_help ? 0 : 2;
        }
        return shell(words[1], verbose);
    }
    if (verb == nullptr) {
        std::cerr << "tsdbctl: unknown verb \"" << name << "\"\n" << usage_text;
        return 2;
    }
    if (wants_help) {
        std::cout << verb_usage(*verb);
        return 0;
    }
    if (words.size() < 2) {
        std::cerr << "tsdbctl " << name << ": DB is missing\n" << verb_usage(*verb);
        return 2;
    }
    const std::vector<std::string> rest(words.begin() + 2, words.end());
    std::optional<Failure> failure;
    try {
        std::optional<Session> session;
        if (verb->needs_process) {
            // Check the command line before starting a process.
            Arguments(rest, verb->rules);
            session.emplace(words[1], verbose);
        }
        Context context{words[1], session ? &*session : nullptr, std::cin, std::cout, now(),
                        verbose};
        failure = run_verb(*verb, context, rest);
        if (session) {
            session->stop();
        }
    } catch (const tools::UsageError& e) {
        failure = Failure{2, e.text};
    } catch (const error::Exception& e) {
        failure = Failure{1, e.text()};
    }
    if (failure) {
        std::cerr << "tsdbctl " << name << ": " << in_operator_words(failure->text) << "\n";
        if (failure->status == 2) {
            std::cerr << verb_usage(*verb);
        }
        return failure->status;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return run(std::vector<std::string>(argv + 1, argv + argc)); }
