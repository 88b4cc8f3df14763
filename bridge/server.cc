#include "bridge/server.h"

#include <httplib.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "bridge/mapping.h"
#include "error/exception.h"
#include "tools/interval_rows.h"
#include "tools/options.h"
#include "tools/svg.h"

namespace bridge {

namespace {

// Open readers for the worker threads to borrow: an open file answers the
// next request at once while no commit landed.
class ReaderPool {
public:
    // Opens the file once, so that one that is not a database is refused at once.
    explicit ReaderPool(std::string database) : database_(std::move(database)) {
        idle_.push_back(std::make_unique<LiveReader>(database_));
    }

    template <typename Use>
    auto with_reader(Use&& use) {
        std::unique_ptr<LiveReader> reader = borrow();
        auto result = use(*reader);
        const std::lock_guard lock(mutex_);
        idle_.push_back(std::move(reader));
        return result;
    }

private:
    std::unique_ptr<LiveReader> borrow() {
        {
            const std::lock_guard lock(mutex_);
            if (!idle_.empty()) {
                std::unique_ptr<LiveReader> reader = std::move(idle_.back());
                idle_.pop_back();
                return reader;
            }
        }
        return std::make_unique<LiveReader>(database_);
    }

    std::string database_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<LiveReader>> idle_;
};

struct Counters {
    std::atomic<uint64_t> reads{0};
    std::atomic<uint64_t> pages{0};
    std::atomic<uint64_t> scrapes{0};
    std::atomic<uint64_t> errors{0};
    std::atomic<uint64_t> samples{0};
    std::atomic<uint64_t> read_microseconds{0};

    std::string exposition() const {
        std::ostringstream out;
        out << "# HELP tsdb_serve_requests_total Requests answered, by what they asked.\n"
            << "# TYPE tsdb_serve_requests_total counter\n"
            << "tsdb_serve_requests_total{path=\"/api/v1/read\"} " << reads << "\n"
            << "tsdb_serve_requests_total{path=\"/\"} " << pages << "\n"
            << "tsdb_serve_requests_total{path=\"/metrics\"} " << scrapes << "\n"
            << "# HELP tsdb_serve_errors_total Requests refused or failed.\n"
            << "# TYPE tsdb_serve_errors_total counter\n"
            << "tsdb_serve_errors_total " << errors << "\n"
            << "# HELP tsdb_serve_samples_total Samples served to remote reads.\n"
            << "# TYPE tsdb_serve_samples_total counter\n"
            << "tsdb_serve_samples_total " << samples << "\n"
            << "# HELP tsdb_serve_read_seconds_total Time spent answering remote reads.\n"
            << "# TYPE tsdb_serve_read_seconds_total counter\n"
            << "tsdb_serve_read_seconds_total "
            << tools::double_text(double(read_microseconds) / 1e6) << "\n";
        return out.str();
    }
};

std::string page(const std::vector<SeriesInfo>& all, const SeriesNames& names,
                 const std::string& node) {
    std::ostringstream out;
    out << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>"
        << tools::xml_escaped(node)
        << ": series</title>\n<style>body{font-family:sans-serif;margin:1em}"
           "section{margin-bottom:1.5em}img{max-width:100%}</style></head><body>\n<h1>"
        << tools::xml_escaped(node) << ": " << all.size() << " series, the last day</h1>\n";
    for (const SeriesInfo& series : all) {
        const SeriesName* named = names.of(series.id);
        out << "<section id=\"series-" << series.id << "\"><h2>series " << series.id;
        if (named) {
            out << ": " << tools::xml_escaped(named->name);
        }
        out << " <small>(" << tools::type_name(series.type) << ")</small></h2>\n";
        if (named && !named->labels.empty()) {
            out << "<p>";
            for (const Label& label : named->labels) {
                out << tools::xml_escaped(label.name) << "=" << tools::xml_escaped(label.value)
                    << " ";
            }
            out << "</p>\n";
        }
        out << "<img alt=\"chart of series " << series.id << "\" src=\"/chart/" << series.id
            << ".svg\"></section>\n";
    }
    out << "</body></html>\n";
    return out.str();
}

void refuse(httplib::Response& response, int status, const std::string& text, Counters& counters) {
    ++counters.errors;
    response.status = status;
    response.set_content(text + "\n", "text/plain; charset=utf-8");
}

class Routes {
public:
    Routes(const std::string& database, const SeriesNames& names, const ServeOptions& options,
           const ChartMaker& chart)
        : readers_(database), names_(names), options_(options), chart_(chart) {}

    void install(httplib::Server& server) {
        server.Post("/api/v1/read",
                    [this](const auto& q, auto& r) { guarded(r, [&] { read(q, r); }); });
        server.Get("/metrics", [this](const auto&, auto& r) {
            ++counters_.scrapes;
            r.set_content(counters_.exposition(), "text/plain; version=0.0.4");
        });
        server.Get("/", [this](const auto&, auto& r) { guarded(r, [&] { index(r); }); });
        server.Get(R"(/chart/(\d{1,10})\.svg)",
                   [this](const auto& q, auto& r) { guarded(r, [&] { chart(q, r); }); });
    }

private:
    // Bad requests get 400, the file's failures 500, each with its text.
    template <typename Answer>
    void guarded(httplib::Response& response, Answer&& answer) {
        try {
            answer();
        } catch (const tools::EBadInput& bad) {
            refuse(response, 400, bad.text(), counters_);
        } catch (const error::Exception& failed) {
            refuse(response, 500, failed.text(), counters_);
        }
    }

    void read(const httplib::Request& request, httplib::Response& response) {
        ++counters_.reads;
        const auto started = std::chrono::steady_clock::now();
        const ReadAnswer answer = readers_.with_reader([&](LiveReader& reader) {
            return answer_read(request.body, reader, names_, options_.node, options_.limits);
        });
        counters_.samples += answer.samples;
        counters_.read_microseconds += std::chrono::duration_cast<std::chrono::microseconds>(
                                           std::chrono::steady_clock::now() - started)
                                           .count();
        response.set_header("Content-Encoding", "snappy");
        response.set_content(answer.body, "application/x-protobuf");
    }

    void index(httplib::Response& response) {
        ++counters_.pages;
        const auto all = readers_.with_reader([](LiveReader& reader) { return reader.series(); });
        response.set_content(page(all, names_, options_.node), "text/html; charset=utf-8");
    }

    void chart(const httplib::Request& request, httplib::Response& response) {
        const auto id = static_cast<uint32_t>(std::stoull(request.matches[1].str()) & 0xFFFFFFFF);
        const std::lock_guard one_at_a_time(chart_mutex_);
        response.set_content(chart_(id), "image/svg+xml");
    }

    ReaderPool readers_;
    const SeriesNames& names_;
    const ServeOptions& options_;
    const ChartMaker& chart_;
    Counters counters_;
    std::mutex chart_mutex_;
};

}  // namespace

void serve(const std::string& database, const SeriesNames& names, const ServeOptions& options,
           const ChartMaker& chart, std::ostream& said, const std::atomic<bool>& stopping) {
    Routes routes(database, names, options, chart);
    httplib::Server server;
    server.set_payload_max_length(options.limits.body_bytes);
    server.set_tcp_nodelay(true);
    routes.install(server);
    // Port 0 takes any free port.
    const int port = options.port == 0 ? server.bind_to_any_port(options.host)
                     : server.bind_to_port(options.host, options.port) ? options.port
                                                                       : -1;
    if (port <= 0) {
        throw tools::EBadInput("cannot listen on " + options.host + ":" +
                               std::to_string(options.port));
    }
    said << "serving " << database << " on http://" << options.host << ":" << port
         << "/ (remote read at /api/v1/read, metrics at /metrics)" << std::endl;
    std::thread listening([&] { server.listen_after_bind(); });
    while (!stopping) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    server.stop();
    listening.join();
}

}  // namespace bridge
