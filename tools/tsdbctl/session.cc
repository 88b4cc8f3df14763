#include "tools/tsdbctl/session.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>

#include "platform/descriptor.h"
#include "platform/fault.h"
#include "platform/process.h"
#include "tools/options.h"
#include "tsdb/buffer_settings.h"
#include "util/system_error.h"

namespace tsdbctl {

namespace {

std::string directory_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

// The "Caught: " reason of a process that ended during its start.
std::string reason_in(const std::string& error_file) {
    std::ifstream in(error_file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Caught: ", 0) == 0) {
            return line.substr(8);
        }
    }
    return "";
}

}  // namespace

std::string tsdb_program() {
    if (const auto chosen = platform::environment("TSDB_PROGRAM")) {
        return *chosen;
    }
    const std::string here = directory_of(platform::program_path().value_or("./tsdbctl"));
    for (const std::string& candidate : {here + "/tsdb", here + "/../server/tsdb"}) {
        if (executable(candidate)) {
            return candidate;
        }
    }
    return "tsdb";
}

Session::PrivateDirectory::PrivateDirectory() {
    const std::string temporary = platform::environment("TMPDIR").value_or("/tmp");
    int error = 0;
    const std::optional<std::string> made =
        platform::make_private_directory(temporary + "/tsdbctl-", error);
    if (!made) {
        util::raise_system_error("Cannot make a private directory in " + temporary, error);
    }
    path = *made;
}

Session::PrivateDirectory::~PrivateDirectory() { platform::remove_directory(path); }

Session::Session(const std::string& database, bool verbose)
    : database_(database), error_file_(private_.path + "/tsdb.err"), verbose_(verbose) {
    // Records reach a live reader at the commit after their flush from the
    // write buffer: a session flushes them within seconds, not the
    // product's ten minutes.
    tsdb::buffer_settings_t buffer;
    buffer.age_max = live_age_max;
    parent::ChildOptions options =
        parent::database_child(tsdb_program(), tools::with_directory(database), buffer);
    options.on_log = [this](const std::string& line) {
        if (verbose_) {
            std::cerr << "tsdb: " << line << "\n";
        }
        log_.push_back(line);
    };
    options.error_output = error_file_;
    try {
        child_ = std::make_unique<parent::ChildProcess>(options);
    } catch (const parent::EChild& failure) {
        const std::string reason = reason_in(error_file_);
        throw parent::EChild("cannot open " + database + ": " +
                             (reason.empty() ? failure.text() : reason));
    }
    client_ = std::make_unique<parent::TsdbClient>(*child_);
}

Session::~Session() {
    try {
        stop();
    } catch (const error::Exception& failure) {
        std::cerr << "tsdbctl: " << failure.text() << "\n";
    }
}

uint32_t Session::series_capacity() {
    log_.clear();
    client_->oldest();
    for (const std::string& line : log_) {
        if (line.rfind("We have ", 0) == 0) {
            return static_cast<uint32_t>(std::stoul(line.substr(8)));
        }
    }
    throw parent::EChild("the database process did not say how many series it holds");
}

void Session::stop() {
    if (!child_) {
        return;
    }
    const int status = child_->stop();
    child_.reset();
    if (verbose_) {
        std::ifstream in(error_file_);
        std::string line;
        while (std::getline(in, line)) {
            std::cerr << "tsdb: " << line << "\n";
        }
    }
    if (status != 0) {
        throw parent::EChild("the database process on " + database_ + " ended with status " +
                             std::to_string(status));
    }
}

}  // namespace tsdbctl
