#include "bridge/series_names.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/options.h"

namespace bridge {

namespace {

// The labels every sample carries already.
bool reserved(const std::string& name) {
    return name == "check" || name == "node" || name == "name" || name.starts_with("__");
}

std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    std::string field;
    while (std::getline(in, field, ',')) {
        fields.push_back(field);
    }
    if (!line.empty() && line.back() == ',') {
        fields.emplace_back();
    }
    return fields;
}

Label label_of(const std::string& field) {
    const size_t equals = field.find('=');
    if (equals == std::string::npos) {
        throw std::invalid_argument("\"" + field + "\" is not label=value");
    }
    Label label{field.substr(0, equals), field.substr(equals + 1)};
    if (!valid_label_name(label.name)) {
        throw std::invalid_argument("\"" + label.name +
                                    "\" is not a label name (letters, digits and _, "
                                    "not starting with a digit)");
    }
    if (reserved(label.name)) {
        throw std::invalid_argument("the label \"" + label.name +
                                    "\" is given to every series already");
    }
    return label;
}

uint32_t id_of(const std::string& text) {
    if (text.empty() || text.size() > 10 || !std::all_of(text.begin(), text.end(), ::isdigit) ||
        std::stoull(text) >= UINT32_MAX) {
        throw std::invalid_argument("\"" + text + "\" is not a series id");
    }
    return static_cast<uint32_t>(std::stoul(text));
}

}  // namespace

bool valid_label_name(const std::string& name) {
    const auto word = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    };
    return !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0])) &&
           std::all_of(name.begin(), name.end(), word);
}

SeriesNames::SeriesNames(std::istream& in, const std::string& source) {
    std::string line;
    size_t number = 0;
    bool header_read = false;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        try {
            if (!header_read) {
                if (!line.starts_with("check,name")) {
                    throw std::invalid_argument("the header must start with \"check,name\"");
                }
                header_read = true;
                continue;
            }
            add(line);
        } catch (const std::invalid_argument& wrong) {
            throw tools::EBadInput(source + " line " + std::to_string(number) + ": " +
                                   wrong.what());
        }
    }
}

void SeriesNames::add(const std::string& line) {
    const std::vector<std::string> fields = fields_of(line);
    if (fields.size() < 2) {
        throw std::invalid_argument("a line needs a series id and a name");
    }
    const uint32_t id = id_of(fields[0]);
    SeriesName named{fields[1], {}};
    if (named.name.empty() || std::all_of(named.name.begin(), named.name.end(), ::isdigit)) {
        throw std::invalid_argument("\"" + named.name +
                                    "\" cannot name a series (ids are numbers)");
    }
    for (size_t f = 2; f < fields.size(); ++f) {
        if (fields[f].empty()) {
            continue;  // a trailing comma
        }
        Label label = label_of(fields[f]);
        for (const Label& before : named.labels) {
            if (before.name == label.name) {
                throw std::invalid_argument("the label \"" + label.name + "\" is given twice");
            }
        }
        named.labels.push_back(std::move(label));
    }
    if (by_id_.contains(id)) {
        throw std::invalid_argument("series " + std::to_string(id) + " is named twice");
    }
    if (by_name_.contains(named.name)) {
        throw std::invalid_argument("\"" + named.name + "\" names series " +
                                    std::to_string(by_name_[named.name]) + " already");
    }
    by_name_[named.name] = id;
    by_id_[id] = std::move(named);
}

SeriesNames SeriesNames::for_database(const std::string& database,
                                      const std::optional<std::string>& given) {
    const std::string path = given.value_or(database + ".labels");
    if (!given && !std::filesystem::exists(path)) {
        return {};
    }
    std::ifstream in(path);
    if (!in) {
        throw tools::EBadInput("cannot read the labels file " + path);
    }
    return SeriesNames(in, path);
}

const SeriesName* SeriesNames::of(uint32_t id) const {
    const auto found = by_id_.find(id);
    return found == by_id_.end() ? nullptr : &found->second;
}

std::optional<uint32_t> SeriesNames::id_named(const std::string& name) const {
    const auto found = by_name_.find(name);
    return found == by_name_.end() ? std::nullopt : std::optional(found->second);
}

std::string SeriesNames::called(uint32_t id) const {
    const SeriesName* named = of(id);
    return named ? named->name : std::to_string(id);
}

}  // namespace bridge
