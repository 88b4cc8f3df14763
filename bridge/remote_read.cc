#include "bridge/remote_read.h"

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
        : type_(m.type()), name_(m.name()), value_(m.value()) {
        if (type_ == wire::LabelMatcher::RE || type_ == wire::LabelMatcher::NRE) {
            try {
                pattern_ = std::regex(value_, std::regex::ECMAScript);
            } catch (const std::regex_error& wrong) {
                throw tools::EBadInput("\"" + value_ + "\" is not a regular expression (" +
                                       wrong.what() + ")");
            }
        }
    }

    bool matches(const std::vector<Label>& labels) const {
        std::string_view value;
        for (const Label& label : labels) {
            if (label.name == name_) {
                value = label.value;
            }
        }
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

private:
    wire::LabelMatcher::Type type_;
    std::string name_;
    std::string value_;
    std::regex pattern_;
};

struct Match {
    SeriesInfo series;
    Metric metric;
    std::vector<Label> labels;
};

std::vector<Match> matching(const wire::Query& query, const std::vector<SeriesInfo>& all,
                            const SeriesNames& names, const std::string& node, size_t limit) {
    std::vector<Matcher> matchers(query.matchers().begin(), query.matchers().end());
    std::vector<Match> found;
    for (const SeriesInfo& series : all) {
        for (const Metric metric : metrics_of(series.type)) {
            std::vector<Label> labels = labels_of(metric, {series.id, node, names.of(series.id)});
            if (std::all_of(matchers.begin(), matchers.end(),
                            [&](const Matcher& m) { return m.matches(labels); })) {
                found.push_back({series, metric, std::move(labels)});
            }
        }
        if (found.size() > limit) {
            throw tools::EBadInput("a query matches more than " + std::to_string(limit) +
                                   " series");
        }
    }
    return found;
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
            const auto rows =
                reader.rows(match.series, query.start_timestamp_ms(), query.end_timestamp_ms());
            wire::TimeSeries series;
            for (const Row& row : rows.value_or(std::vector<Row>{})) {
                if (const auto value = value_of(match.metric, row)) {
                    wire::Sample* sample = series.add_samples();
                    sample->set_value(*value);
                    sample->set_timestamp(row.ms);
                }
            }
            if (series.samples_size() == 0) {
                continue;
            }
            answer.samples += series.samples_size();
            set_labels(series, match.labels);
            *result->add_timeseries() = std::move(series);
        }
    }
    answer.body = compressed(response);
    return answer;
}

}  // namespace bridge
