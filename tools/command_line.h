// The command-line grammar the operator programs share: options anywhere
// among the positional arguments, "--name value" or "--name=value", and
// every default written in the help.
#pragma once

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// NOLINTNEXTLINE(readability-identifier-naming): the argument library's namespace
namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace tools {

struct OptionRule {
    std::string names;       // "--from", or "-o,--output"; the first is its key
    std::string value_name;  // "TIME"; empty for a flag
    std::string help;
    std::string fallback = {};  // used when not given, and shown in the help
    bool repeats = false;
};

struct PositionalRule {
    // "ID" is required, "[FILE]" may be left out, "PATCH..." takes one or
    // more, "[ID...]" any number.
    std::string name;
    std::string help;
};

struct CommandRules {
    std::vector<PositionalRule> positional;
    std::vector<OptionRule> options;
};

// What one command line said. Declared on a parser, filled by its parse:
// it keeps addresses the parser writes to, so it stays where it is made.
class Arguments {
public:
    Arguments(CLI::App& command, const CommandRules& rules);
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;

    // The positional arguments given, in order.
    std::vector<std::string> positional() const;
    std::string at(size_t i) const;
    // Whether the option was on the command line.
    bool has(const std::string& key) const;
    // The option's value: as given, else its fallback ("" without one).
    std::string value(const std::string& key) const;
    // The value as given, if it was.
    std::optional<std::string> given(const std::string& key) const;
    const std::vector<std::string>& values(const std::string& key) const;

private:
    std::vector<std::string> positional_names_;
    std::map<std::string, CLI::Option*> declared_;
    std::map<std::string, std::string> single_;
    std::map<std::string, std::vector<std::string>> repeated_;
    std::map<std::string, std::string> fallback_;
};

// Whether the parser declares a subcommand of that name.
bool has_subcommand(CLI::App& app, const std::string& name);

// Runs the parse; on a mistake prints "PROGRAM: what was wrong" and the
// way to more help on the error output and returns 2, on --help prints the
// help and returns 0; nullopt when the command line holds.
std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv);
// The same for a line of words, as a shell splits them (quotes group), with
// the mistake said on `errors`.
std::optional<int> parse_command_line(CLI::App& app, const std::string& line, std::ostream& errors);

}  // namespace tools
