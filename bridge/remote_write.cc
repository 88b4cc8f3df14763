#include "bridge/remote_write.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <queue>
#include <thread>

#include "bridge/export_state.h"
#include "bridge/wire.h"
#include "tools/options.h"

namespace bridge {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto first_backoff = std::chrono::milliseconds(250);
constexpr auto longest_backoff = std::chrono::seconds(30);
constexpr int tries_without_follow = 10;
constexpr auto follow_poll = std::chrono::seconds(1);

// Sleeps, waking early when stopping.
void pause(std::chrono::milliseconds span, const std::atomic<bool>& stopping) {
    const auto until = Clock::now() + span;
    while (!stopping && Clock::now() < until) {
        std::this_thread::sleep_for(
            std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(50)));
    }
}

struct Endpoint {
    std::string origin;  // scheme://host:port
    std::string path;
};

Endpoint endpoint_of(const std::string& url) {
    const size_t scheme_end = url.find("://");
    if (!url.starts_with("http://") || scheme_end == std::string::npos) {
        throw tools::EBadInput("the receiver's URL must start with http:// (" + url + ")");
    }
    const size_t path_start = url.find('/', scheme_end + 3);
    if (path_start == std::string::npos) {
        return {url, "/"};
    }
    return {url.substr(0, path_start), url.substr(path_start)};
}

enum class Outcome { taken, refused };

// One batch to the receiver, retried while it answers that it may take it later.
class Poster {
public:
    Poster(const RemoteWriteOptions& options, std::ostream& said, const std::atomic<bool>& stopping)
        : endpoint_(endpoint_of(options.url)),
          client_(endpoint_.origin),
          follow_(options.follow),
          said_(said),
          stopping_(stopping) {
        client_.set_connection_timeout(5);
        client_.set_read_timeout(30);
        client_.set_keep_alive(true);
        client_.set_tcp_nodelay(true);
    }

    Outcome post(const std::string& body, size_t samples) {
        std::chrono::milliseconds backoff = first_backoff;
        for (int tries = 1;; ++tries) {
            const httplib::Headers headers = {{"Content-Encoding", "snappy"},
                                              {"X-Prometheus-Remote-Write-Version", "0.1.0"}};
            const auto answer =
                client_.Post(endpoint_.path, headers, body, "application/x-protobuf");
            std::string why;
            if (!answer) {
                why = "cannot reach " + endpoint_.origin + " (" +
                      httplib::to_string(answer.error()) + ")";
            } else if (answer->status / 100 == 2) {
                return Outcome::taken;
            } else if (answer->status < 500 && answer->status != 429) {
                said_ << "remote write: the receiver refused " << samples << " samples (HTTP "
                      << answer->status << ": " << first_line(answer->body) << ")\n";
                return Outcome::refused;
            } else {
                why = "the receiver answered HTTP " + std::to_string(answer->status) + " (" +
                      first_line(answer->body) + ")";
            }
            if (!follow_ && tries == tries_without_follow) {
                throw tools::EBadInput(why + "; gave up after " + std::to_string(tries) + " tries");
            }
            said_ << "remote write: " << why << "; trying again in " << backoff.count() << " ms\n";
            pause(backoff, stopping_);
            backoff = std::min<std::chrono::milliseconds>(backoff * 2, longest_backoff);
            if (stopping_) {
                throw tools::EBadInput("stopped while the receiver could not take a batch: " + why);
            }
        }
    }

private:
    static std::string first_line(const std::string& text) {
        std::string line = text.substr(0, std::min(text.find('\n'), size_t{200}));
        return line.empty() ? "no text" : line;
    }

    Endpoint endpoint_;
    httplib::Client client_;
    bool follow_;
    std::ostream& said_;
    const std::atomic<bool>& stopping_;
};

// A series' rows still to send, with the labels of each of its metrics.
struct Pending {
    uint32_t id;
    std::span<const Metric> metrics;
    std::vector<std::vector<Label>> labels;  // per metric
    std::vector<Row> rows;
    size_t next = 0;
};

// Samples of many series in time order, cut into requests.
class Batcher {
public:
    Batcher(std::vector<Pending>& pending, size_t batch_samples)
        : pending_(pending), batch_samples_(batch_samples) {
        for (size_t s = 0; s < pending_.size(); ++s) {
            if (!pending_[s].rows.empty()) {
                heads_.push({pending_[s].rows[0].ms, s});
            }
        }
    }

    bool done() const { return heads_.empty(); }

    // The next request: whole records, oldest first, until the batch is full.
    // `newest` gets each series' newest sample time in it.
    size_t fill(wire::WriteRequest& request, std::map<uint32_t, int64_t>& newest) {
        request.Clear();
        newest.clear();
        std::map<std::pair<size_t, size_t>, wire::TimeSeries*> open;
        size_t samples = 0;
        while (!heads_.empty() && samples < batch_samples_) {
            const auto [ms, s] = heads_.top();
            heads_.pop();
            Pending& series = pending_[s];
            const Row& row = series.rows[series.next];
            for (size_t m = 0; m < series.metrics.size(); ++m) {
                const auto value = value_of(series.metrics[m], row);
                if (!value) {
                    continue;
                }
                wire::TimeSeries*& out = open[{s, m}];
                if (out == nullptr) {
                    out = request.add_timeseries();
                    set_labels(*out, series.labels[m]);
                }
                wire::Sample* sample = out->add_samples();
                sample->set_value(*value);
                sample->set_timestamp(row.ms);
                ++samples;
            }
            newest[series.id] = row.ms;
            if (++series.next < series.rows.size()) {
                heads_.push({series.rows[series.next].ms, s});
            }
        }
        return samples;
    }

private:
    using Head = std::pair<int64_t, size_t>;  // the next row's time, the series
    std::vector<Pending>& pending_;
    size_t batch_samples_;
    std::priority_queue<Head, std::vector<Head>, std::greater<>> heads_;
};

std::vector<Pending> pending_rows(LiveReader& reader, const SeriesNames& names,
                                  const RemoteWriteOptions& options, const ExportState& state) {
    std::vector<Pending> pending;
    for (const SeriesInfo& series : reader.series()) {
        const std::optional<int64_t> handled = state.handled(series.id);
        const int64_t from = handled ? *handled + 1 : options.from_ms;
        std::optional<std::vector<Row>> rows = reader.rows(series, from, INT64_MAX);
        if (!rows || rows->empty()) {
            continue;
        }
        Pending p{series.id, metrics_of(series.type), {}, std::move(*rows)};
        for (const Metric metric : p.metrics) {
            p.labels.push_back(labels_of(metric, {series.id, options.node, names.of(series.id)}));
        }
        pending.push_back(std::move(p));
    }
    return pending;
}

class Exporter {
public:
    Exporter(LiveReader& reader, const SeriesNames& names, const RemoteWriteOptions& options,
             std::ostream& said, const std::atomic<bool>& stopping)
        : reader_(reader),
          names_(names),
          options_(options),
          said_(said),
          stopping_(stopping),
          poster_(options, said, stopping),
          state_(options.state_file) {}

    RemoteWriteResult run() {
        do {
            round();
            if (options_.follow) {
                pause(std::chrono::duration_cast<std::chrono::milliseconds>(follow_poll),
                      stopping_);
            }
        } while (options_.follow && !stopping_);
        if (options_.progress) {
            said_ << "\n";
        }
        return result_;
    }

private:
    // Sends everything committed that was not handled yet.
    void round() {
        std::vector<Pending> pending = pending_rows(reader_, names_, options_, state_);
        Batcher batcher(pending, options_.batch_samples);
        wire::WriteRequest request;
        std::map<uint32_t, int64_t> newest;
        while (!batcher.done() && !stopping_) {
            const size_t samples = batcher.fill(request, newest);
            const Outcome outcome = poster_.post(compressed(request), samples);
            (outcome == Outcome::taken ? result_.sent : result_.refused) += samples;
            for (const auto& [id, ms] : newest) {
                state_.handle(id, ms);
                newest_sent_ = std::max(newest_sent_, ms);
            }
            state_.save();
            show_progress(pending.size());
        }
    }

    void show_progress(size_t series) {
        if (!options_.progress) {
            return;
        }
        const int64_t now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count();
        said_ << "\rexport: " << series << " series, " << result_.sent << " samples sent, "
              << result_.refused << " refused, lag " << (now_ms - newest_sent_) / 1000 << " s   "
              << std::flush;
    }

    LiveReader& reader_;
    const SeriesNames& names_;
    const RemoteWriteOptions& options_;
    std::ostream& said_;
    const std::atomic<bool>& stopping_;
    Poster poster_;
    ExportState state_;
    RemoteWriteResult result_;
    int64_t newest_sent_ = 0;
};

}  // namespace

RemoteWriteResult remote_write(LiveReader& reader, const SeriesNames& names,
                               const RemoteWriteOptions& options, std::ostream& said,
                               const std::atomic<bool>& stopping) {
    return Exporter(reader, names, options, said, stopping).run();
}

}  // namespace bridge
