// The database process as its parent sees it, for end-to-end tests: a fresh
// database in a directory of the test's own, the process started on it
// through the parent library, its log lines and error output kept.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "parent/child_process.h"
#include "parent/tsdb_client.h"
#include "tsdb/file/creation.h"

namespace testing_support {

class TsdbProcess {
public:
    // A new database under the system's temporary directory, named after the
    // running test so that tests in parallel never share one.
    TsdbProcess() {
        static int made = 0;
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        dir = testing::TempDir() + "tsdb-" + test->test_suite_name() + "-" + test->name() + "-" +
              std::to_string(getpid()) + "-" + std::to_string(++made);
        mkdir(dir.c_str(), 0700);
        database = dir + "/db.tsdb";
        tsdb::create_database({database, 1024, 3, 2048, true});
        configuration = parent::database_child(TSDB_BINARY, database).configuration;
    }
    ~TsdbProcess() { std::system(("rm -rf '" + dir + "'").c_str()); }
    TsdbProcess(const TsdbProcess&) = delete;
    TsdbProcess& operator=(const TsdbProcess&) = delete;

    parent::ChildOptions options() {
        parent::ChildOptions o;
        o.program = TSDB_BINARY;
        o.configuration = configuration;
        o.on_log = [this](const std::string& line) { logs.push_back(line); };
        o.error_output = dir + "/stderr";
        return o;
    }
    std::unique_ptr<parent::ChildProcess> start() {
        logs.clear();
        return std::make_unique<parent::ChildProcess>(options());
    }

    bool logged(const std::string& line) const {
        return std::find(logs.begin(), logs.end(), line) != logs.end();
    }
    bool logged_starting(const std::string& prefix) const {
        return std::any_of(logs.begin(), logs.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }
    std::string error_output() const { return read_file(dir + "/stderr"); }

    static std::string read_file(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string dir;
    std::string database;
    control::Server_Configuration_Fields configuration;
    std::vector<std::string> logs;
};

}  // namespace testing_support
