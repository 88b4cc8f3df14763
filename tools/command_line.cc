#include "tools/command_line.h"

#include <CLI/CLI.hpp>
#include <functional>
#include <iostream>

namespace tools {

namespace {

std::string key_of(const std::string& names) { return names.substr(0, names.find(',')); }

std::string unbracketed(const std::string& positional) {
    return positional.starts_with("[") ? positional.substr(1, positional.size() - 2) : positional;
}

bool is_repeated(const std::string& positional) { return unbracketed(positional).ends_with("..."); }

std::string bare_name(const std::string& positional) {
    const std::string name = unbracketed(positional);
    return is_repeated(positional) ? name.substr(0, name.size() - 3) : name;
}

}  // namespace

Arguments::Arguments(CLI::App& command, const CommandRules& rules) {
    for (const auto& [p, help] : rules.positional) {
        const std::string name = bare_name(p);
        positional_names_.push_back(name);
        CLI::Option* option = is_repeated(p)
                                  ? command.add_option(name, repeated_[name])->expected(-1)
                                  : command.add_option(name, single_[name]);
        option->description(help);
        if (!p.starts_with("[")) {
            option->required();
        }
        declared_[name] = option;
    }
    for (const OptionRule& rule : rules.options) {
        const std::string key = key_of(rule.names);
        CLI::Option* option =
            rule.value_name.empty() ? command.add_flag(rule.names)
            : rule.repeats
                ? command.add_option(rule.names, repeated_[key])
                      ->allow_extra_args(false)
                      ->type_name(rule.value_name)
                : command.add_option(rule.names, single_[key])->type_name(rule.value_name);
        option->description(rule.help);
        if (!rule.fallback.empty()) {
            option->default_str(rule.fallback);
            fallback_[key] = rule.fallback;
        }
        declared_[key] = option;
    }
}

std::vector<std::string> Arguments::positional() const {
    std::vector<std::string> given;
    for (const std::string& name : positional_names_) {
        if (!has(name)) {
            continue;
        }
        if (const auto many = repeated_.find(name); many != repeated_.end()) {
            given.insert(given.end(), many->second.begin(), many->second.end());
        } else {
            given.push_back(single_.at(name));
        }
    }
    return given;
}

std::string Arguments::at(size_t i) const { return positional().at(i); }

bool Arguments::has(const std::string& key) const { return declared_.at(key)->count() > 0; }

std::string Arguments::value(const std::string& key) const {
    if (const auto value = given(key)) {
        return *value;
    }
    const auto fallback = fallback_.find(key);
    return fallback == fallback_.end() ? "" : fallback->second;
}

std::optional<std::string> Arguments::given(const std::string& key) const {
    if (!has(key)) {
        return std::nullopt;
    }
    const auto many = repeated_.find(key);
    return many == repeated_.end() ? single_.at(key) : many->second.back();
}

const std::vector<std::string>& Arguments::values(const std::string& key) const {
    return repeated_.at(key);
}

namespace {

std::optional<int> parsed(CLI::App& app, std::ostream& errors, const std::function<void()>& parse) {
    try {
        parse();
        return std::nullopt;
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::ParseError& e) {
        std::string command = app.get_name();
        for (const CLI::App* sub : app.get_subcommands()) {
            command += " " + sub->get_name();
        }
        errors << command << ": " << e.what() << "\n"
               << "(" << command << " --help shows what it takes)\n";
        return 2;
    }
}

}  // namespace

bool has_subcommand(CLI::App& app, const std::string& name) {
    for (const CLI::App* sub : app.get_subcommands({})) {
        if (sub->get_name() == name) {
            return true;
        }
    }
    return false;
}

std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv) {
    // Reversed, as the parser takes a list; "-o=FILE" as "-o FILE", the
    // way "--output=FILE" is read.
    std::vector<std::string> words;
    for (int i = argc - 1; i >= 1; --i) {
        const std::string word = argv[i];
        if (word.size() > 3 && word[0] == '-' && word[1] != '-' && word[2] == '=') {
            words.push_back(word.substr(3));
            words.push_back(word.substr(0, 2));
        } else {
            words.push_back(word);
        }
    }
    return parsed(app, std::cerr, [&] { app.parse(words); });
}

std::optional<int> parse_command_line(CLI::App& app, const std::string& line,
                                      std::ostream& errors) {
    return parsed(app, errors, [&] { app.parse(line); });
}

}  // namespace tools
