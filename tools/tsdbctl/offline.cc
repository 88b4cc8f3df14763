#include "tools/tsdbctl/offline.h"

#include "tools/options.h"

namespace tsdbctl {

namespace {

std::unique_ptr<tsdb::Engine> opened(const std::string& path) {
    try {
        return tsdb::Engine::open(tools::with_directory(path));
    } catch (const error::Exception& failure) {
        throw tools::EBadInput("cannot open " + path + ": " + failure.text());
    }
}

}  // namespace

OfflineDatabase::OfflineDatabase(const std::string& path) {
    logging::set_sink(this);
    try {
        engine_ = opened(path);
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
