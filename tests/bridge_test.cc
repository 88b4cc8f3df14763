// The bridge against the real Prometheus, with a database process writing
// to the file all along: OpenMetrics turned into blocks by promtool, remote
// write into a receiving Prometheus (following commits, killed and
// restarted), remote read from a Prometheus pointed at `serve`, the page in
// a real browser; and a receiver that refuses connections, then fails,
// then takes, losing nothing.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <snappy.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "bridge/wire.h"
#include "platform/process.h"
#include "tests/support/command.h"
#include "tests/support/prometheus.h"
#include "tests/support/tsdb_process.h"
#include "tools/interval_rows.h"

using namespace testing_support;
using nlohmann::json;

namespace {

using Samples = std::vector<std::pair<int64_t, double>>;  // ms, value

const tsdb::time_series_layout_t minutes_layout(uint32_t type) {
    return {type, {{1440, 60}, {100, 3600}}};
}

std::string ctl(const std::string& args) { return std::string(TSDBCTL) + " " + args; }

// tsdbctl started as a child of the test, its error output in `log`.
int start_ctl(const std::vector<std::string>& arguments, const std::string& log) {
    const int pid = platform::spawn(TSDBCTL, arguments, {}, {}, log);
    EXPECT_GT(pid, 0);
    return pid;
}

class Bridge : public ::testing::Test {
protected:
    void SetUp() override {
        if (!prometheus_installed()) {
            GTEST_SKIP() << "prometheus is not installed (make test installs it)";
        }
        child_ = tsdb_.start();
        client_ = std::make_unique<parent::TsdbClient>(*child_);
        for (const uint32_t type : {tsdb::type_continuous, tsdb::type_monotonic, tsdb::type_enum,
                                    tsdb::type_incident, tsdb::type_continuous}) {
            client_->create(minutes_layout(type));
        }
        std::ofstream(tsdb_.database + ".labels")
            << "check,name\n0,cpu.load,host=web1,service=cpu\n1,net.bytes,host=web1,service=net\n"
               "2,svc.state,host=web2\n3,alerts,host=web2\n4,busy\n";
        history_start_ = now_ / 60 * 60 - 200 * 60;
        put_minutes(history_start_, 180);
        commit();
        writer_ = std::thread([this] { keep_writing(); });
    }

    void TearDown() override {
        stop_writing_ = true;
        if (writer_.joinable()) {
            writer_.join();
        }
    }

    // Minutes of every type from `start`: values with exact decimal forms,
    // records without good samples, an incident every ten minutes.
    void put_minutes(int64_t start, int count) {
        std::ostringstream values, counter, states, incidents;
        values << "start,end,min,avg,max,ngood,nbad\n";
        counter << "start,end,min,avg,max,ngood,nbad\n";
        states << "start,end,mask,ngood,nbad\n";
        incidents << "time,severity,message\n";
        for (int i = 0; i < count; ++i) {
            const int64_t t = start + 60 * i;
            const int n = static_cast<int>((t / 60) % 1000);
            if (n % 7 == 0) {
                values << t << "," << t + 60 << ",,,,0,2\n";
            } else {
                values << t << "," << t + 60 << ",0.1," << 0.1 * (n % 10) + 0.1 << ",3.4e38,3,0\n";
            }
            counter << t << "," << t + 60 << "," << 1e9 + n * 12345.678 << ","
                    << 1e9 + n * 12345.678 << "," << 1e9 + n * 12345.678 << ",1,0\n";
            states << t << "," << t + 60 << "," << (1 << (n % 4)) << ",1,0\n";
            if (n % 10 == 0) {
                incidents << t + 10 << "," << n % 5 << ",alert " << n << "\n";
            }
        }
        put(0, tsdb::type_continuous, values.str());
        put(1, tsdb::type_monotonic, counter.str());
        put(2, tsdb::type_enum, states.str());
        put(3, tsdb::type_incident, incidents.str());
    }

    void put(uint32_t id, uint32_t type, const std::string& csv) {
        std::istringstream in(csv);
        const std::lock_guard one_client(client_mutex_);
        client_->put({queues::queue_main, id, tsdb::PUT_Append, tools::protocol_type(type),
                      tools::read_intervals(in, type, now_ + 600)});
    }

    // Buffers flushed into levels, then a creation commits them.
    void commit() {
        const std::lock_guard one_client(client_mutex_);
        for (uint32_t id = 0; id < 5; ++id) {
            client_->checksum(id);
        }
        client_->create({tsdb::type_continuous, {{10, 60}}});
    }

    // Series 4 takes a record and a commit every 200 ms while the tools run.
    void keep_writing() {
        for (int64_t t = history_start_; !stop_writing_; t += 60) {
            put(4, tsdb::type_continuous,
                "start,end,value\n" + std::to_string(t) + "," + std::to_string(t + 60) + ",1.5\n");
            {
                const std::lock_guard one_client(client_mutex_);
                client_->checksum(4);
                client_->create({tsdb::type_continuous, {{10, 60}}});
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }

    // What `tsdbctl get` shows of a series, as the samples of a metric.
    Samples expected(const std::string& metric, uint32_t id, int64_t from_ms = 0) {
        const CommandOutcome got =
            run_command(ctl("get " + tsdb_.database + " " + std::to_string(id) + " --from " +
                            std::to_string(history_start_ - 3600) + " --to " +
                            std::to_string(now_ + 3600) + " --format json 2>/dev/null"));
        EXPECT_EQ(got.status, 0) << got.output;
        Samples samples;
        for (const json& record : json::parse(got.output)) {
            const bool incident = record.contains("time");
            const int64_t ms = (incident ? record["time"] : record["end"]).get<int64_t>() * 1000;
            const std::string field = metric == "tsdb_avg"            ? "avg"
                                      : metric == "tsdb_min"          ? "min"
                                      : metric == "tsdb_max"          ? "max"
                                      : metric == "tsdb_good_samples" ? "ngood"
                                      : metric == "tsdb_bad_samples"  ? "nbad"
                                      : metric == "tsdb_state_mask"   ? "mask"
                                                                      : "severity";
            if (ms >= from_ms && !record[field].is_null()) {
                samples.emplace_back(ms, record[field].get<double>());
            }
        }
        return samples;
    }

    // The raw samples Prometheus holds of a metric of a series.
    Samples held(const Prometheus& prometheus, const std::string& metric, uint32_t id) {
        const json result =
            prometheus.query(metric + "{check=\"" + std::to_string(id) + "\"}[6h]", now_ + 600);
        Samples samples;
        if (result.is_array() && !result.empty()) {
            EXPECT_EQ(result.size(), 1u);
            for (const json& point : result[0]["values"]) {
                samples.emplace_back(std::llround(point[0].get<double>() * 1000),
                                     std::stod(point[1].get<std::string>()));
            }
        }
        return samples;
    }

    void expect_every_metric(const Prometheus& prometheus, int64_t from_ms = 0) {
        const std::vector<std::pair<uint32_t, std::vector<std::string>>> metrics = {
            {0, {"tsdb_avg", "tsdb_min", "tsdb_max", "tsdb_good_samples", "tsdb_bad_samples"}},
            {1, {"tsdb_avg", "tsdb_good_samples"}},
            {2, {"tsdb_state_mask"}},
            {3, {"tsdb_incident_severity"}}};
        for (const auto& [id, names] : metrics) {
            for (const std::string& metric : names) {
                const Samples want = expected(metric, id, from_ms);
                EXPECT_FALSE(want.empty()) << metric << " " << id;
                EXPECT_EQ(held(prometheus, metric, id), want) << metric << " of series " << id;
            }
        }
    }

    std::string storage(const std::string& name) {
        std::string path = tsdb_.dir + "/" + name;
        std::filesystem::create_directories(path);
        return path;
    }

    TsdbProcess tsdb_;
    std::unique_ptr<parent::ChildProcess> child_;
    std::unique_ptr<parent::TsdbClient> client_;
    std::mutex client_mutex_;
    const int64_t now_ = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    int64_t history_start_ = 0;
    std::atomic<bool> stop_writing_{false};
    std::thread writer_;
};

TEST_F(Bridge, OpenMetricsBecomePrometheusBlocksHoldingEveryRecordExactly) {
    const std::string text = tsdb_.dir + "/history.om";
    const CommandOutcome exported = run_command(
        "{ " + ctl("export " + tsdb_.database + " --format openmetrics --node n1 > " + text) +
        "; }");
    ASSERT_EQ(exported.status, 0) << exported.output;
    std::ifstream in(text);
    const std::string all((std::istreambuf_iterator<char>(in)), {});
    EXPECT_TRUE(all.ends_with("# EOF\n"));
    EXPECT_NE(all.find("tsdb_avg{check=\"0\",host=\"web1\",name=\"cpu.load\",node=\"n1\","
                       "service=\"cpu\"} 0.1 "),
              std::string::npos);
    const std::string blocks = storage("blocks");
    const CommandOutcome made =
        run_command("promtool tsdb create-blocks-from openmetrics " + text + " " + blocks);
    ASSERT_EQ(made.status, 0) << made.output;
    const Prometheus prometheus(blocks, "global: {}\n");
    expect_every_metric(prometheus);
}

TEST_F(Bridge, RemoteWriteHoldsTheLastHourFollowsCommitsAndSurvivesAKill) {
    const Prometheus prometheus(storage("receiver"), "global: {}\n",
                                "--web.enable-remote-write-receiver");
    const std::string url = prometheus.url() + "/api/v1/write";
    const std::string state = tsdb_.dir + "/export.state";
    const int64_t from = now_ - 3600 + 30;  // between record ends
    const std::string push = ctl("export " + tsdb_.database + " --remote-write " + url +
                                 " --state " + state + " --from " + std::to_string(from));
    const CommandOutcome pushed = run_command(push);
    ASSERT_EQ(pushed.status, 0) << pushed.output;
    expect_every_metric(prometheus, from * 1000);

    // Following: records committed later arrive; a kill loses nothing.
    const auto follow = [&] {
        return start_ctl({"export", tsdb_.database, "--remote-write", url, "--state", state,
                          "--from", std::to_string(from), "--follow"},
                         tsdb_.dir + "/follow.log");
    };
    const auto arrived = [&](size_t records) {
        for (int waited = 0; waited < 300; ++waited) {
            if (held(prometheus, "tsdb_state_mask", 2).size() >= records) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    };
    const size_t before = expected("tsdb_state_mask", 2, from * 1000).size();
    int exporter = follow();
    put_minutes(history_start_ + 180 * 60, 8);
    commit();
    EXPECT_TRUE(arrived(before + 8));
    platform::kill_process(exporter, SIGKILL);
    platform::wait_for_exit(exporter, 10000);
    put_minutes(history_start_ + 188 * 60, 8);
    commit();
    exporter = follow();
    EXPECT_TRUE(arrived(before + 16));
    platform::kill_process(exporter, SIGTERM);
    EXPECT_EQ(platform::wait_for_exit(exporter, 20000), std::optional<int>(0));
    expect_every_metric(prometheus, from * 1000);
    const json counted =
        prometheus.query("count_over_time(tsdb_state_mask{check=\"2\"}[6h])", now_ + 600);
    ASSERT_EQ(counted.size(), 1u);
    EXPECT_EQ(counted[0]["value"][1], std::to_string(before + 16));

    // History older than the receiver's window is refused, counted and named.
    const CommandOutcome old =
        run_command(ctl("export " + tsdb_.database + " --remote-write " + url + " --from -4h"));
    EXPECT_EQ(old.status, 1) << old.output;
    EXPECT_NE(old.output.find("the receiver refused"), std::string::npos) << old.output;
    EXPECT_NE(old.output.find("out of bounds"), std::string::npos) << old.output;
}

// A remote-write receiver of the test's own: it answers the first requests
// with 500, takes each later one after a delay, and keeps what it took.
class Receiver {
public:
    Receiver(int failing, std::chrono::milliseconds delay) : failing_(failing) {
        server_.Post("/write", [this, delay](const httplib::Request& q, httplib::Response& r) {
            std::this_thread::sleep_for(delay);
            const std::lock_guard one_at_a_time(mutex_);
            EXPECT_EQ(q.get_header_value("Content-Encoding"), "snappy");
            EXPECT_EQ(q.get_header_value("Content-Type"), "application/x-protobuf");
            EXPECT_EQ(q.get_header_value("X-Prometheus-Remote-Write-Version"), "0.1.0");
            if (failing_-- > 0) {
                r.status = 500;
                return;
            }
            bridge::read_compressed(q.body, size_t{1} << 30, taken_.emplace_back());
            r.status = 204;
        });
    }
    ~Receiver() {
        server_.stop();
        listening_.join();
    }

    // Listens only after a while: connections are refused until then.
    void listen_after(std::chrono::milliseconds wait) {
        listening_ = std::thread([this, wait] {
            std::this_thread::sleep_for(wait);
            server_.listen("127.0.0.1", port_);
        });
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/write"; }
    size_t requests() {
        const std::lock_guard one_at_a_time(mutex_);
        return taken_.size();
    }

    // What it took, by metric and series ("tsdb_avg 0").
    std::map<std::string, Samples> samples() {
        const std::lock_guard one_at_a_time(mutex_);
        std::map<std::string, Samples> got;
        for (const bridge::wire::WriteRequest& request : taken_) {
            for (const auto& series : request.timeseries()) {
                std::string key;
                for (const auto& label : series.labels()) {
                    const bool names = label.name() == "__name__" || label.name() == "check";
                    key += names ? (key.empty() ? "" : " ") + label.value() : "";
                }
                for (const auto& sample : series.samples()) {
                    got[key].emplace_back(sample.timestamp(), sample.value());
                }
            }
        }
        return got;
    }

    // Whether no request held a sample older than one of a request before.
    bool in_time_order() {
        const std::lock_guard one_at_a_time(mutex_);
        int64_t newest_before = 0;
        for (const bridge::wire::WriteRequest& request : taken_) {
            int64_t newest = newest_before;
            for (const auto& series : request.timeseries()) {
                for (const auto& sample : series.samples()) {
                    if (sample.timestamp() < newest_before) {
                        return false;
                    }
                    newest = std::max(newest, sample.timestamp());
                }
            }
            newest_before = newest;
        }
        return true;
    }

private:
    int failing_;
    int port_ = free_port();
    httplib::Server server_;
    std::thread listening_;
    std::mutex mutex_;
    std::vector<bridge::wire::WriteRequest> taken_;
};

TEST_F(Bridge, AReceiverThatRefusesConnectionsThenFailsThenTakesLosesNothing) {
    Receiver receiver(2, std::chrono::milliseconds(0));
    receiver.listen_after(std::chrono::milliseconds(1500));
    const int64_t from = history_start_ + 30;
    const CommandOutcome pushed =
        run_command(ctl("export " + tsdb_.database + " --remote-write " + receiver.url() +
                        " --batch 50 --from " + std::to_string(from)));
    EXPECT_EQ(pushed.status, 0) << pushed.output;
    EXPECT_NE(pushed.output.find("cannot reach"), std::string::npos) << pushed.output;
    EXPECT_NE(pushed.output.find("HTTP 500"), std::string::npos) << pushed.output;
    EXPECT_TRUE(receiver.in_time_order());
    std::map<std::string, Samples> got = receiver.samples();
    EXPECT_EQ(got["tsdb_avg 0"], expected("tsdb_avg", 0, from * 1000));
    EXPECT_EQ(got["tsdb_bad_samples 0"], expected("tsdb_bad_samples", 0, from * 1000));
    EXPECT_EQ(got["tsdb_incident_severity 3"], expected("tsdb_incident_severity", 3, from * 1000));
}

TEST_F(Bridge, AnExporterKilledMidwaySendsAgainAtMostTheBatchInFlight) {
    Receiver receiver(0, std::chrono::milliseconds(20));
    receiver.listen_after(std::chrono::milliseconds(0));
    const std::string from = std::to_string(history_start_ + 30);
    const std::string state = tsdb_.dir + "/export.state";
    const int exporter = start_ctl({"export", tsdb_.database, "--remote-write", receiver.url(),
                                    "--batch", "50", "--state", state, "--from", from},
                                   tsdb_.dir + "/export.log");
    for (int waited = 0; waited < 300 && receiver.requests() < 10; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    platform::kill_process(exporter, SIGKILL);
    platform::wait_for_exit(exporter, 10000);
    const size_t before_kill = receiver.requests();
    const CommandOutcome rest =
        run_command(ctl("export " + tsdb_.database + " --remote-write " + receiver.url() +
                        " --batch 50 --state " + state + " --from " + from));
    EXPECT_EQ(rest.status, 0) << rest.output;
    EXPECT_GT(before_kill, 0u);
    EXPECT_LT(before_kill, receiver.requests()) << "the kill came after the end";
    size_t twice = 0;
    for (auto& [key, samples] : receiver.samples()) {
        const size_t all = samples.size();
        std::sort(samples.begin(), samples.end());
        samples.erase(std::unique(samples.begin(), samples.end()), samples.end());
        twice += all - samples.size();
        if (key == "tsdb_avg 0" || key == "tsdb_state_mask 2") {
            EXPECT_EQ(samples, expected(key.substr(0, key.find(' ')), key.back() - '0',
                                        (history_start_ + 30) * 1000));
        }
    }
    // A batch holds whole records: 50 samples, and the rest of the last record.
    EXPECT_LE(twice, 55u);
}

// A page of the server, as a browser draws it: how many of its pixels are
// neither white nor grey (the charts' colours).
size_t coloured_pixels(const std::string& png) {
    GdkPixbuf* image = gdk_pixbuf_new_from_file(png.c_str(), nullptr);
    if (image == nullptr) {
        return 0;
    }
    const int channels = gdk_pixbuf_get_n_channels(image);
    const int stride = gdk_pixbuf_get_rowstride(image);
    const guchar* pixels = gdk_pixbuf_get_pixels(image);
    size_t coloured = 0;
    for (int y = 0; y < gdk_pixbuf_get_height(image); ++y) {
        for (int x = 0; x < gdk_pixbuf_get_width(image); ++x) {
            const guchar* p = pixels + y * stride + x * channels;
            coloured += std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 40;
        }
    }
    g_object_unref(image);
    return coloured;
}

TEST_F(Bridge, RemoteReadAnswersPromQLAndThePageShowsCharts) {
    const int port = free_port();
    const std::string address = "127.0.0.1:" + std::to_string(port);
    const int server = start_ctl(
        {"serve", tsdb_.database, "--listen", address, "--node", "n1", "--max-series", "5"},
        tsdb_.dir + "/serve.log");
    httplib::Client direct("127.0.0.1", port);
    for (int waited = 0; waited < 100 && !direct.Get("/metrics"); ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const Prometheus prometheus(storage("reader"), "remote_read:\n  - url: http://" + address +
                                                       "/api/v1/read\n    read_recent: true\n");
    expect_every_metric(prometheus);
    const int64_t at = history_start_ + 120 * 60;
    const json highest = prometheus.query("max_over_time(tsdb_max{check=\"1\"}[1h])", at);
    double want = 0;
    for (const auto& [ms, value] : expected("tsdb_max", 1)) {
        want = ms > (at - 3600) * 1000 && ms <= at * 1000 ? std::max(want, value) : want;
    }
    ASSERT_EQ(highest.size(), 1u);
    EXPECT_EQ(std::stod(highest[0]["value"][1].get<std::string>()), want);
    const auto checks = [&](const std::string& promql) {
        std::multiset<std::string> found;
        for (const json& series : prometheus.query(promql + "[6h]", now_ + 600)) {
            found.insert(series["metric"]["__name__"].get<std::string>() + "/" +
                         series["metric"]["check"].get<std::string>());
        }
        return found;
    };
    EXPECT_EQ(checks("tsdb_avg{service=\"cpu\"}"), std::multiset<std::string>{"tsdb_avg/0"});
    EXPECT_EQ(checks("{__name__=~\"tsdb_(min|max)\",host=\"web1\"}"),
              (std::multiset<std::string>{"tsdb_max/0", "tsdb_max/1", "tsdb_min/0", "tsdb_min/1"}));
    EXPECT_EQ(checks("tsdb_avg{check!=\"0\",name=~\".+\"}"),
              (std::multiset<std::string>{"tsdb_avg/1", "tsdb_avg/4"}));
    EXPECT_EQ(checks("tsdb_state_mask{host!~\"web1\"}"),
              std::multiset<std::string>{"tsdb_state_mask/2"});

    // Refusals, each before any work.
    const auto status_of = [&](const std::string& body) {
        const auto answer = direct.Post("/api/v1/read", body, "application/x-protobuf");
        return answer ? answer->status : 0;
    };
    EXPECT_EQ(status_of("not snappy at all"), 400);
    const std::string garbage = "\xff\xff\xff garbage";
    std::string not_protobuf;
    snappy::Compress(garbage.data(), garbage.size(), &not_protobuf);
    EXPECT_EQ(status_of(not_protobuf), 400);
    // A request of one query with one matcher.
    const auto asking = [](bridge::wire::LabelMatcher::Type type, const std::string& name,
                           const std::string& value) {
        bridge::wire::ReadRequest request;
        auto* matcher = request.add_queries()->add_matchers();
        matcher->set_type(type);
        matcher->set_name(name);
        matcher->set_value(value);
        return request;
    };
    EXPECT_EQ(status_of(bridge::compressed(asking(bridge::wire::LabelMatcher::RE, "check", "("))),
              400);
    bridge::wire::ReadRequest many;
    for (int q = 0; q < 17; ++q) {
        many.add_queries();
    }
    EXPECT_EQ(status_of(bridge::compressed(many)), 400);
    EXPECT_EQ(
        status_of(bridge::compressed(asking(bridge::wire::LabelMatcher::RE, "__name__", ".+"))),
        400);
    // Several clients at once, each answered in full.
    bridge::wire::ReadRequest one_series = asking(bridge::wire::LabelMatcher::EQ, "check", "0");
    one_series.mutable_queries(0)->set_end_timestamp_ms((now_ + 600) * 1000);
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int n = 0; n < 4; ++n) {
        clients.emplace_back([&] {
            httplib::Client client("127.0.0.1", port);
            for (int r = 0; r < 10; ++r) {
                const auto answer = client.Post("/api/v1/read", bridge::compressed(one_series),
                                                "application/x-protobuf");
                bridge::wire::ReadResponse response;
                if (answer && answer->status == 200) {
                    bridge::read_compressed(answer->body, size_t{1} << 30, response);
                    answered += response.results(0).timeseries_size() == 5;
                }
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    EXPECT_EQ(answered, 40);
    const auto metrics = direct.Get("/metrics");
    ASSERT_TRUE(metrics);
    EXPECT_NE(metrics->body.find("tsdb_serve_errors_total 5"), std::string::npos) << metrics->body;
    EXPECT_NE(metrics->body.find("tsdb_serve_samples_total"), std::string::npos);

    const auto page = direct.Get("/");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("cpu.load"), std::string::npos);
    EXPECT_NE(page->body.find("/chart/3.svg"), std::string::npos);
    if (std::ifstream("/usr/bin/chromium").good()) {
        const std::string shot = tsdb_.dir + "/page.png";
        const CommandOutcome drawn = run_command(
            "timeout 120 chromium --headless --no-sandbox --disable-gpu --hide-scrollbars "
            "--user-data-dir=" +
            tsdb_.dir + "/chromium --window-size=1000,1400 --screenshot=" + shot + " http://" +
            address + "/");
        EXPECT_EQ(drawn.status, 0) << drawn.output;
        EXPECT_GT(coloured_pixels(shot), 5000u) << "the page's charts did not render";
    }
    platform::kill_process(server, SIGTERM);
    EXPECT_EQ(platform::wait_for_exit(server, 20000), std::optional<int>(0));
}

}  // namespace
