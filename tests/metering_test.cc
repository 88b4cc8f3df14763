#include "server/metering.h"

#include <gtest/gtest.h>

#include <limits>

using namespace queues;

namespace {

meter::Group sample_group(nullptr, "sample");
meter::IntegerCounter first(&sample_group, "first", "Made first");
meter::MilliSecondTiming second(&sample_group, "second", "Made second");

struct Recorder final : EventSender {
    void send(const event& e) override { sent.push_back(e.clone()); }
    uint32_t fresh_uid() override { return 0; }
    std::vector<std::unique_ptr<event>> sent;
};

template <event_t N>
const typename payload_of<N>::type& only_reply(const Recorder& r) {
    EXPECT_EQ(r.sent.size(), 1u);
    EXPECT_EQ(r.sent.back()->type, N) << event_name(r.sent.back()->type);
    EXPECT_EQ(r.sent.back()->dest, 0);
    EXPECT_EQ(r.sent.back()->uid, 9u);
    return *static_cast<const typename payload_of<N>::type*>(r.sent.back()->data);
}

// The reply to a metric request with this path, sent by MAIN with uid 9.
template <event_t Request>
Recorder ask(std::vector<std::string> path) {
    Recorder r;
    event_of<Request> request(0, 9);
    request.payload.id = std::move(path);
    EXPECT_TRUE(server::handle_metering(request, r));
    return r;
}

}  // namespace

TEST(Metering, ActivationRegistersEarlierMetricsAndTellsTheParent) {
    Recorder r;
    server::activate_metering(r);
    ASSERT_EQ(r.sent.size(), 1u);
    EXPECT_EQ(r.sent[0]->type, SUPPORTS_METRICS);
    EXPECT_EQ(r.sent[0]->uid, 0u);

    first.increment(12);
    EXPECT_EQ(only_reply<RETURN_METRIC_UINT64>(ask<GET_METRIC>({"sample", "first"})), 12u);
    const auto timing = only_reply<RETURN_METRIC_TIMING>(ask<GET_METRIC>({"sample", "second"}));
    EXPECT_EQ(timing.n, 0u);
    EXPECT_EQ(timing.min, std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(timing.max, 0u);
    for (const auto& path : std::vector<std::vector<std::string>>{
             {"sample"}, {}, {"sample", "third"}, {"sample", "first", "deeper"}}) {
        EXPECT_EQ(only_reply<RETURN_METRIC_ERROR>(ask<GET_METRIC>(path)), "Unknown metric");
    }
    const auto type =
        only_reply<RETURN_GET_METRIC_TYPE>(ask<GET_METRIC_TYPE>({"sample", "second"}));
    EXPECT_EQ(type.name, "second");
    EXPECT_EQ(type.unit, "ms");
    EXPECT_EQ(type.desc, "Made second");
    EXPECT_EQ(type.type, 3u);
    EXPECT_EQ(only_reply<RETURN_METRIC_ERROR>(ask<GET_METRIC_TYPE>({"sample"})), "Unknown metric");
    // Every GET_METRIC is timed.
    EXPECT_GE(only_reply<RETURN_METRIC_TIMING>(ask<GET_METRIC>({"metering", "time"})).n, 6u);
}

TEST(Metering, TheListHoldsEveryGroupAndMetricsNewestFirst) {
    Recorder none;
    server::activate_metering(none);
    Recorder r;
    EXPECT_TRUE(server::handle_metering(event_of<LIST_METRICS>(0, 9), r));
    const control::Metric_Group& root = only_reply<RETURN_LIST_METRICS>(r);
    EXPECT_EQ(root.name, "");
    const auto sample = std::find_if(root.groups.begin(), root.groups.end(),
                                     [](const auto& g) { return g.name == "sample"; });
    ASSERT_NE(sample, root.groups.end());
    ASSERT_EQ(sample->metrics.size(), 2u);
    EXPECT_EQ(sample->metrics[0].name, "second");
    EXPECT_EQ(sample->metrics[1].name, "first");
    EXPECT_EQ(sample->metrics[1].type, 2u);
    EXPECT_FALSE(server::handle_metering(event_of<GET_DATA>(0, 9), r));
}
