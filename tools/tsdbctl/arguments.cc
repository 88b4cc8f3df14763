#include "tools/tsdbctl/arguments.h"

#include <algorithm>

#include "tools/options.h"

namespace tsdbctl {

namespace {

bool listed(const std::vector<std::string>& names, const std::string& word) {
    return std::find(names.begin(), names.end(), word) != names.end();
}

// "-1d" and "-6h" are times, not options.
bool looks_like_option(const std::string& word) {
    return word.size() > 1 && word[0] == '-' && !std::isdigit(static_cast<unsigned char>(word[1]));
}

}  // namespace

Arguments::Arguments(const std::vector<std::string>& words, const ArgumentRules& rules) {
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (listed(rules.value_options, word)) {
            if (i + 1 >= words.size()) {
                throw tools::UsageError{word + " needs a value"};
            }
            values_[word].push_back(words[++i]);
        } else if (listed(rules.flags, word)) {
            values_[word].push_back("");
        } else if (looks_like_option(word)) {
            throw tools::UsageError{"unknown option " + word};
        } else {
            positional_.push_back(word);
        }
    }
    if (positional_.size() < rules.least) {
        throw tools::UsageError{"too few arguments"};
    }
    if (positional_.size() > rules.most) {
        throw tools::UsageError{"unexpected argument \"" + positional_[rules.most] + "\""};
    }
}

std::optional<std::string> Arguments::value(const std::string& name) const {
    const auto found = values_.find(name);
    return found == values_.end() ? std::nullopt : std::optional(found->second.back());
}

std::string Arguments::value_or(const std::string& name, const std::string& fallback) const {
    return value(name).value_or(fallback);
}

const std::vector<std::string>& Arguments::values(const std::string& name) const {
    static const std::vector<std::string> none;
    const auto found = values_.find(name);
    return found == values_.end() ? none : found->second;
}

std::vector<std::string> split_words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    char quote = 0;
    for (char c : line) {
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            } else {
                word += c;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
            in_word = true;
        } else if (c == ' ' || c == '\t') {
            if (in_word) {
                words.push_back(std::exchange(word, {}));
                in_word = false;
            }
        } else {
            word += c;
            in_word = true;
        }
    }
    if (quote != 0) {
        throw tools::UsageError{"a quote is not closed"};
    }
    if (in_word) {
        words.push_back(word);
    }
    return words;
}

}  // namespace tsdbctl
