#include "bridge/export_state.h"

#include <fstream>
#include <sstream>

#include "platform/descriptor.h"
#include "tools/options.h"
#include "util/system_error.h"

namespace bridge {

namespace {

constexpr const char* header = "# series, newest sample time a receiver took (ms)";

}  // namespace

ExportState::ExportState(std::optional<std::string> path) : path_(std::move(path)) {
    if (!path_) {
        return;
    }
    std::ifstream in(*path_);
    std::string line;
    size_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        uint32_t id = 0;
        int64_t ms = 0;
        std::string rest;
        if (!(fields >> id >> ms) || (fields >> rest)) {
            throw tools::EBadInput(*path_ + " line " + std::to_string(number) +
                                   ": not \"SERIES MILLISECONDS\"; is it an export state file?");
        }
        newest_[id] = ms;
    }
}

std::optional<int64_t> ExportState::handled(uint32_t id) const {
    const auto found = newest_.find(id);
    return found == newest_.end() ? std::nullopt : std::optional(found->second);
}

void ExportState::handle(uint32_t id, int64_t ms) {
    int64_t& newest = newest_[id];
    newest = std::max(newest, ms);
}

void ExportState::save() const {
    if (!path_) {
        return;
    }
    std::string text = std::string(header) + "\n";
    for (const auto& [id, ms] : newest_) {
        text += std::to_string(id) + " " + std::to_string(ms) + "\n";
    }
    if (const int failed = platform::publish_file(*path_, text)) {
        throw tools::EBadInput("cannot write the state file " + *path_ + ": " +
                               util::system_error_text(failed));
    }
}

}  // namespace bridge
