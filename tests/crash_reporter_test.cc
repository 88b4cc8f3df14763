#include "util/crash_reporter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

#include "error/exception.h"
#include "platform/fault.h"

// Outside the anonymous namespace, so that the compiler cannot see every
// override and drop the call.
namespace crash_fixtures {

struct Unfinished;
Unfinished* volatile under_construction = nullptr;
[[gnu::noinline]] void act_on_unfinished();

// Calls its own pure virtual function before a derived class has taken over.
struct Unfinished {
    Unfinished() {
        under_construction = this;
        act_on_unfinished();
    }
    virtual ~Unfinished() = default;
    virtual void act() = 0;
};

struct Finished : Unfinished {
    void act() override {}
};

// NOLINTNEXTLINE(clang-analyzer-cplusplus.PureVirtualCall): the crash under test
void act_on_unfinished() { under_construction->act(); }

}  // namespace crash_fixtures

namespace {

const char* const report_path = "crash_reporter_test.report";

// Stands in for the system log: keeps the message where the test can read it.
void report_to_file(const char* message) noexcept {
    int error = 0;
    const int fd = platform::signal_safe::create_file(report_path, error);
    platform::signal_safe::write_all(fd, message, error);
    platform::signal_safe::close_file(fd);
}

std::string contents(const std::string& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

void throw_fatal() { throw error::EFatal("nobody catches this"); }

// An exception may not leave here, so nothing up the stack can catch it.
void call_without_unwinding(void (*action)()) noexcept { action(); }

class CrashReporter : public ::testing::Test {
protected:
    void SetUp() override {
        std::remove(dump_path.c_str());
        std::remove(report_path);
    }

    // The dump and the report agree and describe the fault.
    void expect_reported(const std::string& cause) {
        const std::string dump = contents(dump_path);
        EXPECT_NE(dump.find("fault: " + cause), std::string::npos) << dump;
        EXPECT_NE(dump.find("process id: "), std::string::npos);
        EXPECT_NE(dump.find("backtrace:\n"), std::string::npos);
        EXPECT_EQ(contents(report_path),
                  "An application error has been detected. Please report this error and submit "
                  "the dump file in '" +
                      dump_path + "' along with your error report");
    }

    const std::string dump_path = util::dump_file_name(platform::program_path());
};

}  // namespace

TEST(DumpFileName, ReplacesTheExtensionOfTheProgramsName) {
    EXPECT_EQ(util::dump_file_name("/opt/product/bin/tsdb.exe"), "/opt/product/bin/tsdb.dmp");
    EXPECT_EQ(util::dump_file_name("/opt/product/bin/tsdb"), "/opt/product/bin/tsdb.dmp");
    EXPECT_EQ(util::dump_file_name("/opt/v1.2/tsdb"), "/opt/v1.2/tsdb.dmp");
    EXPECT_EQ(util::dump_file_name("tsdb.old.bin"), "tsdb.old.dmp");
    EXPECT_EQ(util::dump_file_name(std::nullopt), "tarquell.dmp");
}

TEST_F(CrashReporter, InvalidAccessWritesDumpAndReports) {
    EXPECT_EXIT(
        {
            util::install_crash_reporter(report_to_file);
            volatile uintptr_t unmapped = 0x10;
            // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast,performance-no-int-to-ptr)
            *reinterpret_cast<volatile int*>(unmapped) = 1;
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    expect_reported("SIGSEGV");
    EXPECT_NE(contents(dump_path).find("address: 0x0000000000000010"), std::string::npos);
}

TEST_F(CrashReporter, PureVirtualCallIsAnInvalidAccess) {
    EXPECT_EXIT(
        {
            util::install_crash_reporter(report_to_file);
            crash_fixtures::Finished never_finished;
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    expect_reported("SIGSEGV");
}

TEST_F(CrashReporter, UncaughtExceptionIsReported) {
    EXPECT_EXIT(
        {
            util::install_crash_reporter(report_to_file);
            call_without_unwinding(throw_fatal);
        },
        ::testing::KilledBySignal(SIGABRT), "");
    expect_reported("uncaught exception");
}

TEST_F(CrashReporter, WithoutReportFunctionTheMessageGoesToTheErrorOutput) {
    EXPECT_EXIT(
        {
            util::install_crash_reporter();
            std::raise(SIGFPE);
        },
        ::testing::KilledBySignal(SIGFPE),
        "Dump generated: An application error has been detected");
    EXPECT_NE(contents(dump_path).find("fault: SIGFPE"), std::string::npos);
}
