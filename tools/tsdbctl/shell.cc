#include "tools/tsdbctl/shell.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <streambuf>

#include "platform/process.h"
#include "tools/tsdbctl/session.h"
#include "tools/tsdbctl/verb_run.h"
#include "util/format.h"
#include "util/time_value.h"

namespace tsdbctl {

namespace {

// A script's lines up to one holding only "." (or its end): what a verb
// reading its input takes in the shell, so that the script's later lines
// stay commands. Counts the lines it takes.
class DataBlock : public std::streambuf {
public:
    DataBlock(std::istream& script, size_t& line_number)
        : script_(script), line_number_(line_number) {}

    // Whether a verb began to read the block.
    bool opened() const { return opened_; }

    // Skips what the verb left of the block unread.
    void skip_rest() {
        while (underflow() != traits_type::eof()) {
            setg(line_.data(), line_.data() + line_.size(), line_.data() + line_.size());
        }
    }

protected:
    int_type underflow() override {
        opened_ = true;
        if (ended_ || !std::getline(script_, line_) || (++line_number_, line_ == ".")) {
            ended_ = true;
            return traits_type::eof();
        }
        line_ += '\n';
        setg(line_.data(), line_.data(), line_.data() + line_.size());
        return traits_type::to_int_type(line_[0]);
    }

private:
    std::istream& script_;
    size_t& line_number_;
    std::string line_;
    bool opened_ = false;
    bool ended_ = false;
};

std::string verb_list() {
    std::ostringstream out;
    out << "A verb and its arguments per line, without DB; VERB --help explains one.\n";
    for (const Verb& verb : all_verbs()) {
        if (verb.needs != Needs::nothing) {
            out << "  " << std::left << std::setw(10) << verb.name
                << verb.help.substr(0, verb.help.find('\n')) << "\n";
        }
    }
    out << "put reads its data up to a line holding only \".\"; quit ends.\n";
    return out.str();
}

// The shell's loop: one command per line, each answered by a status line.
class Shell {
public:
    Shell(const std::string& database, bool verbose)
        : database_(database), session_(database, verbose), grammar_(lines_, false) {}

    int run() {
        const bool interactive = platform::is_terminal(0);
        std::string line;
        while ((interactive && std::cerr << "tsdb> " << std::flush), std::getline(std::cin, line)) {
            ++line_number_;
            const size_t start = std::min(line.find_first_not_of(" \t"), line.size());
            const std::string verb = line.substr(start, line.find_first_of(" \t", start) - start);
            if (verb == "quit" || verb == "exit") {
                break;
            }
            if (!verb.empty() && !verb.starts_with("#")) {
                answer(verb, line);
            }
        }
        session_.stop();
        return failed_ ? 1 : 0;
    }

private:
    void answer(const std::string& verb, const std::string& line) {
        const size_t command_line = line_number_;
        const auto began = std::chrono::steady_clock::now();
        const std::string failure = outcome(verb, line);
        std::cout << std::flush;
        if (failure.empty()) {
            const std::chrono::duration<double, std::milli> took =
                std::chrono::steady_clock::now() - began;
            std::cout << "OK " << util::format_double(took.count(), 0, 1) << " ms\n";
        } else {
            failed_ = true;
            std::cout << "ERROR: line " << command_line << ": " << failure << "\n";
        }
        std::cout << std::flush;
    }

    // What failed, or empty.
    std::string outcome(const std::string& verb, const std::string& line) {
        if (verb == "help") {
            std::cout << verb_list();
            return "";
        }
        if (!tools::has_subcommand(lines_, verb)) {
            return "\"" + verb + "\" is not a verb of the shell (help lists them)";
        }
        std::ostringstream mistake;
        if (const auto parse_status = tools::parse_command_line(lines_, line, mistake)) {
            // The parser names the command as "tsdbctl VERB".
            const std::string said = mistake.str().substr(0, mistake.str().find('\n'));
            return *parse_status == 0 ? "" : said.substr(said.find(' ') + 1);
        }
        DataBlock block(std::cin, line_number_);
        std::istream input(&block);
        Context context{database_,
                        &session_,
                        input,
                        std::cout,
                        util::TimeValue::now().seconds(),
                        platform::is_terminal(1)};
        const Verb& chosen = *grammar_.chosen();
        const auto failure = run_verb(chosen, context, grammar_.arguments_of(chosen));
        if (block.opened()) {
            block.skip_rest();
        }
        return failure ? verb + ": " + failure->text : "";
    }

    std::string database_;
    Session session_;
    CLI::App lines_{"A line of the shell: a verb and its arguments, without DB.", "tsdbctl"};
    const Grammar grammar_;
    size_t line_number_ = 0;
    bool failed_ = false;
};

}  // namespace

int run_shell(const std::string& database, bool verbose) { return Shell(database, verbose).run(); }

}  // namespace tsdbctl
