// The series of a database file, read the way a file a database process
// holds must be read: each series' rows come from one commit, and are read
// again from the newest commit when one landed while they were read.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/mapping.h"

namespace tsdb {
class Engine;
}

namespace bridge {

struct SeriesInfo {
    uint32_t id;
    uint32_t type;  // the storage type
};

class LiveReader {
public:
    // Throws the file's failure to open (not a database, say).
    explicit LiveReader(std::string path);
    ~LiveReader();
    LiveReader(const LiveReader&) = delete;
    LiveReader& operator=(const LiveReader&) = delete;

    // Every series of the newest commit, lowest id first.
    std::vector<SeriesInfo> series();
    // The rows of the records whose sample time lies in [from_ms, to_ms],
    // oldest first; none when the series no longer exists.
    std::optional<std::vector<Row>> rows(const SeriesInfo& series, int64_t from_ms, int64_t to_ms);

private:
    tsdb::Engine& engine();
    // The next read opens the file again.
    void forget();
    // Runs read(engine) until it read one commit.
    template <typename Read>
    void committed(Read&& read);

    std::string path_;
    std::unique_ptr<tsdb::Engine> engine_;
    std::optional<std::vector<SeriesInfo>> series_;  // of the open commit
};

}  // namespace bridge
