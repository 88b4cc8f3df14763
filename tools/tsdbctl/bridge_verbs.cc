#include "tools/tsdbctl/bridge_verbs.h"

#include <iostream>

#include "bridge/openmetrics.h"
#include "bridge/remote_write.h"
#include "bridge/server.h"
#include "platform/process.h"
#include "tools/options.h"
#include "tools/time_arg.h"
#include "tools/tsdbctl/read_only_file.h"
#include "tsdb/committed_read.h"
#include "util/time_value.h"

namespace tsdbctl {

namespace {

using tools::UsageError;

constexpr int64_t ms_per_s = 1000;
const tools::OptionRule node_option{"--node", "NAME", "the node label (default: the host name)"};

std::string node_of(const tools::Arguments& a) {
    return a.given("--node").value_or(platform::host_name());
}

void export_openmetrics(Context& c, const tools::Arguments& a) {
    if (a.has("--follow") || a.has("--state")) {
        throw UsageError{"--follow and --state go with --remote-write"};
    }
    bridge::LiveReader reader(tools::with_directory(c.database));
    const int64_t from = a.has("--from") ? tools::parse_time(a.value("--from"), c.now) : 0;
    const bridge::TimeRange range{from * ms_per_s,
                                  tools::parse_time(a.value("--to"), c.now) * ms_per_s};
    const uint64_t samples = bridge::write_openmetrics(reader, c.names, node_of(a), range, c.out);
    std::cerr << "exported " << samples << " samples\n";
}

void export_remote_write(Context& c, const tools::Arguments& a) {
    if (a.has("--to")) {
        throw UsageError{
            "--to goes with --format openmetrics: remote write sends up to the newest"};
    }
    const bool from_given = a.has("--from");
    bridge::RemoteWriteOptions options{
        a.value("--remote-write"),
        tools::parse_time(from_given ? a.value("--from") : "-1h", c.now) * ms_per_s,
        a.has("--follow"),
        a.given("--state"),
        node_of(a),
        tools::parse_number("--batch", a.value("--batch"), 1, 1000000),
        platform::is_terminal(2)};
    if (!from_given) {
        std::cerr << "remote write: series the state does not know start an hour ago (--from); "
                     "receivers refuse older samples, which --format openmetrics exports\n";
    }
    bridge::LiveReader reader(tools::with_directory(c.database));
    std::atomic<bool> stopping{false};
    platform::stop_on_termination(stopping);
    const bridge::RemoteWriteResult result =
        bridge::remote_write(reader, c.names, options, std::cerr, stopping);
    c.out << "sent " << result.sent << " samples";
    if (result.refused > 0) {
        c.out << "; the receiver refused " << result.refused
              << " (older than it takes? --format openmetrics exports history)";
    }
    c.out << "\n";
    if (result.refused > 0) {
        throw tools::EBadInput(std::to_string(result.refused) + " samples were refused");
    }
}

}  // namespace

tools::CommandRules export_rules() {
    return {
        {},
        {{"--format", "openmetrics", "write OpenMetrics text to standard output"},
         {"--remote-write", "URL", "push to a Prometheus remote-write receiver"},
         {"--from", "TIME", "the oldest sample time (default: all for OpenMetrics, -1h to push)"},
         {"--to", "TIME", "the newest sample time, for OpenMetrics", "now"},
         {"--follow", "", "keep pushing what later commits add, until SIGTERM"},
         {"--state", "FILE", "where pushing keeps what the receiver took, to go on from there"},
         {"--batch", "N", "samples per remote-write request", "10000"},
         node_option}};
}

void export_records(Context& c, const tools::Arguments& a) {
    const bool openmetrics = a.has("--format");
    if (openmetrics == a.has("--remote-write")) {
        throw UsageError{"give either --format openmetrics or --remote-write URL"};
    }
    if (openmetrics && a.value("--format") != "openmetrics") {
        throw UsageError{"unknown format \"" + a.value("--format") + "\" (openmetrics)"};
    }
    openmetrics ? export_openmetrics(c, a) : export_remote_write(c, a);
}

tools::CommandRules serve_rules() {
    return {{},
            {{"--listen", "HOST:PORT", "where to listen (port 0: any free one, said on start)",
              "127.0.0.1:9201"},
             {"--max-queries", "N", "queries one remote read may hold", "16"},
             {"--max-series", "N", "series one query may match", "10000"},
             node_option}};
}

void serve(Context& c, const tools::Arguments& a) {
    const std::string listen = a.value("--listen");
    const size_t colon = listen.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        throw UsageError{"--listen takes HOST:PORT, not \"" + listen + "\""};
    }
    bridge::ServeOptions options;
    options.host = listen.substr(0, colon);
    options.port = static_cast<int>(
        tools::parse_number("--listen's port", listen.substr(colon + 1), 0, 65535));
    options.node = node_of(a);
    options.limits.queries =
        tools::parse_number("--max-queries", a.value("--max-queries"), 1, 1000);
    options.limits.series =
        tools::parse_number("--max-series", a.value("--max-series"), 1, 10000000);
    // A page's charts: the last day of a series, one at a time.
    const bridge::ChartMaker chart = [&](uint32_t id) {
        std::string svg;
        tsdb::read_committed([&] {
            ReadOnlyFile file(c.database, false);
            Context reading{c.database, &file,  c.in, c.out, util::TimeValue::now().seconds(),
                            false,      c.names};
            tools::ChartLabels labels{"", "", 800, 250};
            size_t drawn = 0;
            svg = series_chart(reading, id, {reading.now - 86400, reading.now, 400}, labels, drawn);
            return file.unchanged_since_open();
        });
        return svg;
    };
    std::atomic<bool> stopping{false};
    platform::stop_on_termination(stopping);
    bridge::serve(tools::with_directory(c.database), c.names, options, chart, std::cerr, stopping);
}

}  // namespace tsdbctl
