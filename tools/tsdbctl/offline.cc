#include "tools/tsdbctl/offline.h"

#include "tools/options.h"

namespace tsdbctl {

std::unique_ptr<tsdb::Engine> opened_engine(const std::string& path, bool read_only) {
    const std::string at = tools::with_directory(path);
    try {
        return read_only ? tsdb::Engine::open_read_only(at) : tsdb::Engine::open(at);
    } catch (const error::Exception& failure) {
        throw tools::EBadInput("cannot open " + path + ": " + failure.text());
    }
}

OfflineDatabase::OfflineDatabase(const std::string& path) {
    logging::set_sink(this);
    try {
        engine_ = opened_engine(path, false);
    } catch (...) {
        logging::set_sink(nullptr);
        throw;
    }
}

OfflineDatabase::~OfflineDatabase() {
    engine_.reset();
    logging::set_sink(nullptr);
}

}  // namespace tsdbctl
