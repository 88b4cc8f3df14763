// The engine driven as the request handlers drive it, with random sample
// streams checked against what any correct aggregation must preserve.
#include "tsdb/engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "tests/support/sim_database.h"
#include "tsdb/committed_read.h"
#include "tsdb/error.h"
#include "tsdb/file/consistency_check.h"

using namespace tsdb;
using namespace testing_support;

namespace {

// What a stream of samples adds up to, whatever the levels made of it.
struct Totals {
    uint64_t good = 0;
    uint64_t bad = 0;
    double sum = 0;
    float min = INFINITY;
    float max = -INFINITY;
    uint32_t mask = 0;
};

class Stream {
public:
    explicit Stream(uint32_t seed) : random_(seed) {}
    // The next sample time: a minute on, sometimes after a gap.
    uint32_t next_time() {
        t_ += 60 * (random_() % 10 == 0 ? 1 + random_() % 30 : 1);
        return t_;
    }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(random_() % n); }

private:
    std::mt19937 random_;
    uint32_t t_ = 1700000000;
};

template <typename Record>
void expect_ordered_without_overlap(const std::vector<Record>& records) {
    for (size_t i = 1; i < records.size(); ++i) {
        ASSERT_GE(records[i].timestart,
                  uint64_t{records[i - 1].timestart} + records[i - 1].duration)
            << "record " << i;
    }
}

class EngineTest : public ::testing::Test {
protected:
    const time_series_layout_t layout(uint32_t type) const {
        return {type, {{200, 60}, {200, 300}, {4000, 3600}}};
    }

    SimDisk disk = formatted_disk(small_database(3000));
    Engine engine{open_on(disk)};
};

}  // namespace

TEST_F(EngineTest, ContinuousStreamsKeepTheirCountsExtremesAndSums) {
    for (uint32_t type : {type_continuous, type_monotonic}) {
        for (uint32_t seed = 1; seed <= 3; ++seed) {
            const uint32_t id = engine.create_series(layout(type));
            Stream stream(seed);
            Totals want;
            float counter = 0;
            for (int i = 0; i < 4000; ++i) {
                const uint32_t t = stream.next_time();
                const bool bad = stream.below(20) == 0;
                counter =
                    stream.below(100) == 0 ? 0 : counter + static_cast<float>(stream.below(50));
                const float v =
                    type == type_monotonic ? counter : static_cast<float>(stream.below(1000)) / 4;
                const continuous_record_t sample = bad ? continuous_record_t{t, 60, 0, 1, 0, 0, 0}
                                                       : continuous_record_t{t, 60, 1, 0, v, v, v};
                type == type_monotonic ? engine.put<3>(id, sample) : engine.put<1>(id, sample);
                if (bad) {
                    ++want.bad;
                } else {
                    ++want.good;
                    want.sum += v;
                    want.min = std::min(want.min, v);
                    want.max = std::max(want.max, v);
                }
            }
            const auto records = type == type_monotonic ? engine.get<3>(id, 0, 1ll << 33)
                                                        : engine.get<1>(id, 0, 1ll << 33);
            expect_ordered_without_overlap(records);
            Totals got;
            for (const continuous_record_t& r : records) {
                got.good += r.ngood;
                got.bad += r.nbad;
                got.sum += double{r.avg} * r.ngood;
                if (r.ngood > 0) {
                    ASSERT_LE(r.min, r.avg);
                    ASSERT_LE(r.avg, r.max);
                    got.min = std::min(got.min, r.min);
                    got.max = std::max(got.max, r.max);
                }
            }
            EXPECT_EQ(got.good, want.good) << "type " << type << " seed " << seed;
            EXPECT_EQ(got.bad, want.bad);
            EXPECT_EQ(got.min, want.min);
            EXPECT_EQ(got.max, want.max);
            EXPECT_NEAR(got.sum, want.sum, want.sum * 1e-4);
            EXPECT_LT(records.size(), 4000u / 2);  // aggregation did take place
        }
    }
    EXPECT_TRUE(engine.problems().empty());
}

TEST_F(EngineTest, EnumAndIncidentStreams) {
    const uint32_t states = engine.create_series(layout(type_enum));
    const uint32_t incidents = engine.create_series({type_incident, {{8192, 60}, {8192, 3600}}});
    Stream stream(9);
    Totals want;
    std::set<std::string> texts;
    std::string first_text;
    for (int i = 0; i < 3000; ++i) {
        const uint32_t t = stream.next_time();
        const uint32_t state = 1u << stream.below(6);
        engine.put<2>(states, enum_record_t{t, 60, 1, 0, state});
        want.good += 1;
        want.mask |= state;
        if (stream.below(10) == 0) {
            const std::string text =
                "incident " + std::to_string(i) + std::string(stream.below(40), '!');
            engine.put<4>(incidents, incident_record_t{t, 30, stream.below(5), text});
            texts.insert(text);
            first_text = first_text.empty() ? text : first_text;
        }
    }
    engine.flush_all();
    const auto records = engine.get<2>(states, 0, 1ll << 33);
    expect_ordered_without_overlap(records);
    Totals got;
    for (const enum_record_t& r : records) {
        got.good += r.ngood;
        got.mask |= r.mask;
    }
    EXPECT_EQ(got.good, want.good);
    EXPECT_EQ(got.mask, want.mask);

    const auto kept = engine.get<4>(incidents, 0, 1ll << 33);
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.front().text, first_text);
    for (const incident_record_t& r : kept) {
        EXPECT_TRUE(texts.count(r.text)) << r.text;
    }
    EXPECT_EQ(engine.newest<4>(incidents).text, kept.back().text);
}

TEST_F(EngineTest, RecoveryTruncationAndDeletionThroughTheEngine) {
    const uint32_t id = engine.create_series(layout(type_continuous));
    Stream stream(4);
    for (int i = 0; i < 1000; ++i) {
        const float v = static_cast<float>(stream.below(100));
        engine.put<1>(id, continuous_record_t{stream.next_time(), 60, 1, 0, v, v, v});
    }
    const std::string patch = engine.extract(id);  // flushes the buffer first
    const uint32_t copy = engine.create_series(layout(type_continuous));
    engine.merge(copy, {patch});
    EXPECT_EQ(engine.get<1>(copy, 0, 1ll << 33), engine.get<1>(id, 0, 1ll << 33));
    EXPECT_EQ(engine.checksum(id).size(), 8u);

    const auto all = engine.get<1>(id, 0, 1ll << 33);
    const uint32_t cut = all[all.size() / 2].timestart;
    engine.truncate<1>(id, cut);
    EXPECT_GT(engine.oldest(id), cut);
    EXPECT_EQ(engine.get<1>(id, 0, 1ll << 33).front().timestart, engine.oldest(id));

    engine.put<1>(id, continuous_record_t{2000000000, 60, 1, 0, 1, 1, 1});
    engine.delete_series(id);
    EXPECT_EQ(failure_text<error_internal>([&] { engine.get<1>(id, 0, 1); }),
              "Referenced unallocated check_id (" + std::to_string(id) + ")");
    const uint32_t reused = engine.create_series(layout(type_enum));  // no stale buffer
    EXPECT_EQ(reused, id);
    EXPECT_TRUE(engine.get<2>(reused, 0, 1ll << 33).empty());
}

TEST(CommittedRead, ReadsAgainWhileCommitsLandAndGivesUpWithAText) {
    int attempts = 0;
    tsdb::read_committed([&] { return ++attempts == 3; });
    EXPECT_EQ(attempts, 3);
    EXPECT_EQ(testing_support::failure_text<tsdb::error_generic>(
                  [] { tsdb::read_committed([] { return false; }); }),
              "the database committed 50 times while it was read; try again");
    // A failure that comes back the same on the next try is the file's own.
    attempts = 0;
    EXPECT_EQ(testing_support::failure_text<tsdb::error_generic>([&] {
                  tsdb::read_committed([&]() -> bool {
                      ++attempts;
                      throw tsdb::error_generic("not a database");
                  });
              }),
              "not a database");
    EXPECT_EQ(attempts, 2);
}
