#include "server/trace.h"

#include "log/log.h"

namespace server {

Trace::Trace(const std::string& path) {
    if (path.empty()) {
        return;
    }
    out_.open(path, std::ios::out | std::ios::trunc);
    if (!on()) {
        out_.close();
        logging::log("TSDB tracefile setup error. Not tracing tsdb.");
        return;
    }
    logging::log("Notice: tracing TSDB calls to: \"" + path + "\"");
}

void Trace::begin() {
    if (on()) {
        out_ << "N:" << std::endl;
        started_ = util::TimeValue::now();
    }
}

void Trace::end(const std::string& event_name) {
    if (on()) {
        const util::TimeValue spent = util::TimeValue::now() - started_;
        out_ << "T: " << spent.as_double() * 1000.0 << " " << event_name << std::endl;
    }
}

}  // namespace server
