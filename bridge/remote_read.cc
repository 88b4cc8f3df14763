#include "bridge/remote_read.h"

#include <optional>
#include <regex>

#include "bridge/wire.h"
#include "tools/options.h"

namespace bridge {

namespace {

// A matcher as Prometheus applies it: a label a series lacks has the value
// "", and regular expressions match the whole value.
class Matcher {
public:
    explicit Matcher(const wire::LabelMatcher& m)
        : type_(m.type()), label_(label_named(m.name())), name_(m.name()), value_(m.value()) {
        if (!compares()) {
            try {
                pattern_ = std::regex(value_, std::regex::ECMAScript);
            } catch (const std::regex_error& wrong) {
                throw tools::EBadInput("\"" + value_ + "\" is not a regular expression (" +
                                       wrong.what() + ")");
            }
        }
    }

    // `check` is the series' id as text.
    bool matches(Metric metric, const SeriesIdentity& series, const std::string& check) const {
        switch (label_) {
            case Known::metric:
                return holds(metric_name(metric));
            case Known::check:
                return holds(check);
            case Known::node:
                return holds(series.node);
            default:
                return holds(label_value(name_, metric, series));
        }
    }

    // Comparisons first: they are cheaper than regular expressions.
    bool operator<(const Matcher& other) const { return compares() && !other.compares(); }

private:
    enum class Known { metric, check, node, other };

    static Known label_named(const std::string& name) {
        return name == "__name__" ? Known::metric
               : name == "check"  ? Known::check
               : name == "node"   ? Known::node
                                  : Known::other;
    }

    bool compares() const {
        return type_ == wire::LabelMatcher::EQ || type_ == wire::LabelMatcher::NEQ;
    }

    bool holds(std::string_view value) const {
        switch (type_) {
            case wire::LabelMatcher::NEQ:
                return value != value_;
            case wire::LabelMatcher::RE:
                return std::regex_match(value.begin(), value.end(), pattern_);
            case wire::LabelMatcher::NRE:
                return !std::regex_match(value.begin(), value.end(), pattern_);
            default:
                return value == value_;
        }
    }

    wire::LabelMatcher::Type type_;
    Known label_;
    std::string name_;
    std::string value_;
    std::regex pattern_;
};

struct MatchedMetric {
    Metric metric;
    std::vector<Label> labels;
};

// A series with the metrics of it a query matches: its rows are read once.
struct Match {
    SeriesInfo series;
    std::vector<MatchedMetric> metrics;
};

std::vector<Match> matching(const wire::Query& query, const std::vector<SeriesInfo>& all,
                            const SeriesNames& names, const std::string& node, size_t limit) {
    std::vector<Matcher> matchers(query.matchers().begin(), query.matchers().end());
    std::stable_sort(matchers.begin(), matchers.end());
    std::vector<Match> found;
    size_t metrics_found = 0;
    for (const SeriesInfo& series : all) {
        const SeriesIdentity identity{series.id, node, names.of(series.id)};
        const std::string check = std::to_string(series.id);
        Match match{series, {}};
        for (const Metric metric : metrics_of(series.type)) {
            if (std::all_of(matchers.begin(), matchers.end(),
                            [&](const Matcher& m) { return m.matches(metric, identity, check); })) {
                match.metrics.push_back({metric, labels_of(metric, identity)});
            }
        }
        metrics_found += match.metrics.size();
        if (metrics_found > limit) {
            throw tools::EBadInput("a query matches more than " + std::to_string(limit) +
                                   " series");
        }
        if (!match.metrics.empty()) {
            found.push_back(std::move(match));
        }
    }
    return found;
}

// The samples of one metric of `rows`, labelled; none when no row holds it.
std::optional<wire::TimeSeries> samples_of(const MatchedMetric& matched,
                                           const std::vector<Row>& rows) {
    wire::TimeSeries series;
    for (const Row& row : rows) {
        if (const auto value = value_of(matched.metric, row)) {
            wire::Sample* sample = series.add_samples();
            sample->set_value(*value);
            sample->set_timestamp(row.ms);
        }
    }
    if (series.samples_size() == 0) {
        return std::nullopt;
    }
    set_labels(series, matched.labels);
    return series;
}

void check_request(const wire::ReadRequest& request, const ReadLimits& limits) {
    if (static_cast<size_t>(request.queries_size()) > limits.queries) {
        throw tools::EBadInput("the request holds " + std::to_string(request.queries_size()) +
                               " queries, more than " + std::to_string(limits.queries));
    }
    const auto& types = request.accepted_response_types();
    if (!types.empty() &&
        std::find(types.begin(), types.end(), wire::ReadRequest::SAMPLES) == types.end()) {
        throw tools::EBadInput("only the SAMPLES response type is served");
    }
}

}  // namespace

ReadAnswer answer_read(std::string_view body, LiveReader& reader, const SeriesNames& names,
                       const std::string& node, const ReadLimits& limits) {
    wire::ReadRequest request;
    read_compressed(body, limits.body_bytes, request);
    check_request(request, limits);
    const std::vector<SeriesInfo> all = reader.series();
    std::vector<std::vector<Match>> matches;
    for (const wire::Query& query : request.queries()) {
        matches.push_back(matching(query, all, names, node, limits.series));
    }
    wire::ReadResponse response;
    ReadAnswer answer;
    for (int q = 0; q < request.queries_size(); ++q) {
        const wire::Query& query = request.queries(q);
        wire::QueryResult* result = response.add_results();
        for (const Match& match : matches[q]) {
            const std::vector<Row> rows =
                reader.rows(match.series, query.start_timestamp_ms(), query.end_timestamp_ms())
                    .value_or(std::vector<Row>{});
            for (const MatchedMetric& matched : match.metrics) {
                if (auto series = samples_of(matched, rows)) {
                    answer.samples += series->samples_size();
                    *result->add_timeseries() = std::move(*series);
                }
            }
        }
    }
    answer.body = compressed(response);
    return answer;
}

}  // namespace bridge
