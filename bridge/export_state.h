// What a receiver acknowledged, per series: the newest sample time it took
// (or refused for good). Kept in a file, replaced whole after each batch, so
// that an exporter stopped at any moment starts where it ended.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace bridge {

class ExportState {
public:
    // Without a file nothing is kept past the run. A file that does not
    // exist yet holds nothing; tools::EBadInput for one that is malformed.
    explicit ExportState(std::optional<std::string> path);

    // The newest sample time handled for the series.
    std::optional<int64_t> handled(uint32_t id) const;
    void handle(uint32_t id, int64_t ms);
    // Writes the file, durably; tools::EBadInput when it cannot.
    void save() const;

private:
    std::optional<std::string> path_;
    std::map<uint32_t, int64_t> newest_;
};

}  // namespace bridge
