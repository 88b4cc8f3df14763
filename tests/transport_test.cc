// The transport between two real processes: this test plays the parent
// through the parent-side library; the echo child answers every request
// with a copy of it, over the real pool and FIFOs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <thread>

#include "parent/child_process.h"
#include "platform/process.h"

using namespace queues;

namespace {

parent::ChildOptions echo_options(uint32_t area_size = 8 << 20) {
    parent::ChildOptions options;
    options.program = ECHO_CHILD;
    options.configuration.dbms_tsdb_file_path = "/var/lib/tsdb.db";
    options.area_size = area_size;
    options.on_log = [](const std::string&) {};
    return options;
}

event_of<RETURN_RECOVERY_EXTRACT_TIMESERIES> blob(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i * 131 + i / 4096);
    }
    return event_of<RETURN_RECOVERY_EXTRACT_TIMESERIES>(0, 0, std::move(bytes));
}

}  // namespace

TEST(Transport, ChildStartsAnswersManyRequestsInFlightAndStopsByTheProtocol) {
    std::vector<std::string> logged;
    parent::ChildOptions options = echo_options();
    options.on_log = [&](const std::string& line) { logged.push_back(line); };
    parent::ChildProcess child(options);
    EXPECT_TRUE(child.supports_metrics());
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], "echo child running for /var/lib/tsdb.db");

    event_of<GET_DATA> get(0, 0, {7, 5, 0, true, 100, 200, 10, 0});
    const auto reply = child.request(get);
    ASSERT_EQ(reply->type, GET_DATA);
    EXPECT_EQ(reply->uid, get.uid);
    EXPECT_EQ(static_cast<const tsdb::Get_Data_Data*>(reply->data)->end, 200);

    // 64 in flight at a time, replies taken out of order.
    std::vector<uint32_t> in_flight;
    for (uint32_t i = 0; i < 1000; ++i) {
        event_of<DELETE_TIMESERIES> del(0, 0, i);
        in_flight.push_back(child.send(del));
        if (in_flight.size() == 64) {
            for (auto it = in_flight.rbegin(); it != in_flight.rend(); ++it) {
                const auto r = child.await(*it);
                EXPECT_EQ(r->uid, *it);
            }
            in_flight.clear();
        }
    }
    for (uint32_t uid : in_flight) {
        EXPECT_EQ(child.await(uid)->uid, uid);
    }
    EXPECT_EQ(child.stop(), 0);
    EXPECT_EQ(child.messenger().unacknowledged(), 0u);
}

TEST(Transport, EventsLargerThanTheAreaWaitForAcknowledgements) {
    parent::ChildProcess child(echo_options(256 << 10));
    for (size_t size : {size_t{100000}, size_t{3} << 20, size_t{131072 - 40}}) {
        auto big = blob(size);
        const auto reply = child.request(big);
        ASSERT_EQ(reply->type, RETURN_RECOVERY_EXTRACT_TIMESERIES);
        EXPECT_EQ(*static_cast<const std::string*>(reply->data), big.payload) << size;
    }
    EXPECT_EQ(child.stop(), 0);
}

TEST(Transport, AChildThatDiesEndsItsStreamWithAClearFailure) {
    parent::ChildProcess child(echo_options());
    platform::kill_process(child.pid(), SIGKILL);
    event_of<DELETE_TIMESERIES> del(0, 0, 1);
    try {
        child.request(del, {5, 0});
        FAIL() << "no failure";
    } catch (const parent::EChild& e) {
        EXPECT_NE(e.text().find("went away while we waited for the reply"), std::string::npos)
            << e.text();
    }
    EXPECT_EQ(child.exit_status({2, 0}), 128 + SIGKILL);
}

TEST(Transport, AChildSeesItsParentDieWithinTwoSeconds) {
    const std::string gone_file = testing::TempDir() + "transport_parent_gone";
    std::remove(gone_file.c_str());
    const std::string command = std::string(STUB_PARENT) + " " + ECHO_CHILD + " " + gone_file;
    FILE* out = popen((command + " & echo $!").c_str(), "r");
    ASSERT_NE(out, nullptr);
    int parent_pid = 0;
    int child_pid = 0;
    ASSERT_EQ(std::fscanf(out, "%d %d", &parent_pid, &child_pid), 2);
    platform::kill_process(parent_pid, SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    std::string seen;
    while (seen.empty() && std::chrono::steady_clock::now() - killed < std::chrono::seconds(2)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::ifstream(gone_file) >> seen;
    }
    pclose(out);
    EXPECT_EQ(seen, "parent") << "the child did not notice within 2 s";
    platform::kill_process(child_pid, SIGKILL);
    std::remove(gone_file.c_str());
}

TEST(Transport, PipesAndTheirPublicationsAreTheOwnersAlone) {
    parent::ChildProcess child(echo_options());
    const std::string prefix = child.fifo_prefix();
    const std::string dir = prefix.substr(0, prefix.rfind('/'));
    struct stat st {};
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    for (const std::string& own : {prefix + ".0", prefix + ".20"}) {
        ASSERT_EQ(stat(own.c_str(), &st), 0) << own;
        EXPECT_EQ(st.st_mode & 07777, 0600u) << own;
        ASSERT_EQ(stat((own + ".fifo").c_str(), &st), 0) << own;
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0600u) << own;
    }
    if (getuid() == 0) {
        // Another user cannot even reach the child's pipe.
        const pid_t other = fork();
        if (other == 0) {
            const bool dropped = setgid(65534) == 0 && setuid(65534) == 0;
            const int fd = open((prefix + ".20.fifo").c_str(), O_WRONLY | O_NONBLOCK);
            _exit(dropped && fd < 0 && errno == EACCES ? 0 : 1);
        }
        int status = 0;
        waitpid(other, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0) << "a second user could open the pipe";
    }
    EXPECT_EQ(child.stop(), 0);
}
