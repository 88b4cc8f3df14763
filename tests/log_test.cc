#include "log/log.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <vector>

#include "error/exception.h"
#include "log/storage_log.h"
#include "platform/system_log.h"

namespace {

struct RecordingSink : logging::Sink {
    void send(const std::string& line, int32_t log_type) override {
        if (fail) {
            throw error::ESystemError("parent gone");
        }
        lines.push_back(line);
        types.push_back(log_type);
    }
    bool fail = false;
    std::vector<std::string> lines;
    std::vector<int32_t> types;
};

std::string error_output_of(void (*action)()) {
    testing::internal::CaptureStderr();
    action();
    return testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(Log, WithoutSinkLinesGoToTheErrorOutput) {
    logging::set_sink(nullptr);
    EXPECT_EQ(error_output_of([] { logging::log("TSDB running"); }), "Log: TSDB running\n");
}

TEST(Log, SinkTakesLinesAndAFailingSinkFallsBack) {
    RecordingSink sink;
    logging::set_sink(&sink);
    logging::set_match_text("running");
    EXPECT_EQ(error_output_of([] { logging::log("TSDB running"); }), "");
    ASSERT_EQ(sink.lines.size(), 1u);
    EXPECT_EQ(sink.lines[0], "TSDB running");
    EXPECT_EQ(sink.types[0], 0);

    sink.fail = true;
    EXPECT_EQ(error_output_of([] { logging::log("after the parent left"); }),
              "Log: after the parent left\n");
    logging::set_sink(nullptr);
    logging::set_match_text("");
}

TEST(StorageLog, VerbosityWordGatesEachLevel) {
    EXPECT_EQ(logging::verbosity_for_log_mask(0), 12u);
    EXPECT_EQ(logging::verbosity_for_log_mask(0xFBFFFFFF), 12u);
    EXPECT_EQ(logging::verbosity_for_log_mask(0x4000000), 14u);

    RecordingSink sink;
    logging::set_sink(&sink);
    logging::set_storage_verbosity(12);
    logging::storage_log(logging::Verbosity::debug, "Insert into check 1");
    logging::storage_log(logging::Verbosity::verbose, "Growing TSDB with 8 blocks");
    logging::storage_log(logging::Verbosity::notice, "Flushing all in-memory buffers to disk");
    logging::storage_log(logging::Verbosity::warning, "Aggregation found nothing");
    logging::set_storage_verbosity(14);
    logging::storage_log(logging::Verbosity::verbose, "Phase shift of all chains avoided");
    logging::set_sink(nullptr);
    logging::set_storage_verbosity(12);

    EXPECT_EQ(sink.lines, (std::vector<std::string>{"Flushing all in-memory buffers to disk",
                                                    "Aggregation found nothing",
                                                    "Phase shift of all chains avoided"}));
}

TEST(SystemLog, RecordCarriesSourceSeverityAndEventIdentity) {
    const std::string path = testing::TempDir() + "system_log_test.sock";
    unlink(path.c_str());
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the socket interface's type
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    platform::report_system_error("Database shutdown caught exception: x - will not proceed.",
                                  path.c_str());
    char received[4096];
    const ssize_t length = recv(fd, received, sizeof received, MSG_DONTWAIT);
    close(fd);
    unlink(path.c_str());
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::string(received, static_cast<size_t>(length)),
              "<11>Nimbra[" + std::to_string(getpid()) +
                  "]: event 0xC0000004: Database shutdown caught exception: x - will not proceed.");

    // Without a listener the report is silently dropped.
    platform::report_system_error("nobody listens", "/nonexistent/socket");
}
