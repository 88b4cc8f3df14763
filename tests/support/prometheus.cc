#include "tests/support/prometheus.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/process.h"

namespace testing_support {

int free_port() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    // The socket calls take any address as a sockaddr.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    auto* any = reinterpret_cast<sockaddr*>(&address);
    EXPECT_EQ(bind(probe, any, sizeof address), 0);
    EXPECT_EQ(getsockname(probe, any, &length), 0);
    close(probe);
    return ntohs(address.sin_port);
}

bool prometheus_installed() { return std::ifstream("/usr/bin/prometheus").good(); }

Prometheus::Prometheus(const std::string& storage, const std::string& configuration,
                       const std::string& flags)
    : storage_(storage), port_(free_port()) {
    std::ofstream(storage_ + "/prometheus.yml") << configuration;
    std::vector<std::string> arguments = {
        "--config.file=" + storage_ + "/prometheus.yml", "--storage.tsdb.path=" + storage_,
        "--web.listen-address=127.0.0.1:" + std::to_string(port_), "--log.level=warn"};
    std::istringstream more(flags);
    for (std::string flag; more >> flag;) {
        arguments.push_back(flag);
    }
    pid_ = platform::spawn("/usr/bin/prometheus", arguments, {}, {}, storage_ + "/prometheus.log");
    EXPECT_GT(pid_, 0);
    httplib::Client client("127.0.0.1", port_);
    for (int waited = 0; waited < 600; ++waited) {
        if (auto answer = client.Get("/-/ready"); answer && answer->status == 200) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "Prometheus did not become ready in a minute:\n" << log();
}

Prometheus::~Prometheus() {
    if (pid_ > 0) {
        platform::kill_process(pid_, SIGTERM);
        if (!platform::wait_for_exit(pid_, 20000)) {
            platform::kill_process(pid_, SIGKILL);
            platform::wait_for_exit(pid_, 5000);
        }
    }
}

nlohmann::json Prometheus::query(const std::string& promql, int64_t time) const {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(60);
    const httplib::Params params = {{"query", promql}, {"time", std::to_string(time)}};
    const auto answer = client.Post("/api/v1/query", params);
    if (!answer || answer->status != 200) {
        ADD_FAILURE() << promql << ": " << (answer ? answer->body : "no answer");
        return nullptr;
    }
    return nlohmann::json::parse(answer->body)["data"]["result"];
}

std::string Prometheus::log() const {
    std::ifstream in(storage_ + "/prometheus.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace testing_support
