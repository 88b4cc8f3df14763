// A Prometheus of the test's own: its own storage directory and a free port
// on 127.0.0.1, every wait bounded, stopped when the test ends.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace testing_support {

// A port nothing listens on now.
int free_port();

class Prometheus {
public:
    // Starts `prometheus` with the configuration text and flags on `storage`
    // and waits until it is ready (fails the test after a minute).
    Prometheus(const std::string& storage, const std::string& configuration,
               const std::string& flags = "");
    ~Prometheus();
    Prometheus(const Prometheus&) = delete;
    Prometheus& operator=(const Prometheus&) = delete;

    int port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // The data of an instant query at `time` (seconds), or null on failure.
    nlohmann::json query(const std::string& promql, int64_t time) const;
    std::string log() const;

private:
    std::string storage_;
    int port_;
    int pid_ = -1;
};

// Whether the Debian package is installed; tests skip without it.
bool prometheus_installed();

}  // namespace testing_support
