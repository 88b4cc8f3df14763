// The words after a verb: positional arguments, options with a value
// ("--from -1d", "-o FILE"; some may repeat) and flags.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tsdbctl {

struct ArgumentRules {
    std::vector<std::string> value_options;  // each takes the next word
    std::vector<std::string> flags;
    size_t least = 0;  // positional arguments
    size_t most = 0;
};

class Arguments {
public:
    // Throws tools::UsageError for an unknown option, a missing value or a
    // wrong number of positional arguments.
    Arguments(const std::vector<std::string>& words, const ArgumentRules& rules);

    const std::vector<std::string>& positional() const { return positional_; }
    const std::string& at(size_t i) const { return positional_.at(i); }
    bool has(const std::string& name) const { return values_.contains(name); }
    std::optional<std::string> value(const std::string& name) const;
    std::string value_or(const std::string& name, const std::string& fallback) const;
    const std::vector<std::string>& values(const std::string& name) const;

private:
    std::vector<std::string> positional_;
    std::map<std::string, std::vector<std::string>> values_;
};

// Splits a line as a shell would: blanks separate words, single and double
// quotes group them. Throws tools::UsageError for an open quote.
std::vector<std::string> split_words(const std::string& line);

}  // namespace tsdbctl
