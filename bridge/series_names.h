// The names and labels an operator gives series, in a CSV file with the
// header "check,name" and a line per series: "3,cpu.load,host=web1,service=cpu".
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bridge {

struct Label {
    std::string name;
    std::string value;
    bool operator==(const Label&) const = default;
};

struct SeriesName {
    std::string name;
    std::vector<Label> labels;  // as the file gives them
};

class SeriesNames {
public:
    SeriesNames() = default;
    // Throws tools::EBadInput "SOURCE line N: what is wrong".
    SeriesNames(std::istream& in, const std::string& source);
    // The file given, else DATABASE.labels when it exists, else no names;
    // tools::EBadInput for a file that cannot be read or is malformed.
    static SeriesNames for_database(const std::string& database,
                                    const std::optional<std::string>& given);

    bool empty() const { return by_id_.empty(); }
    const SeriesName* of(uint32_t id) const;
    std::optional<uint32_t> id_named(const std::string& name) const;
    // The series' name, or its id as text.
    std::string called(uint32_t id) const;

private:
    void add(const std::string& line);

    std::map<uint32_t, SeriesName> by_id_;
    std::map<std::string, uint32_t> by_name_;
};

// Whether a label name is one Prometheus takes: [a-zA-Z_][a-zA-Z0-9_]*.
bool valid_label_name(const std::string& name);

}  // namespace bridge
