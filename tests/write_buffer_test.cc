#include "tsdb/write_buffer.h"

#include <gtest/gtest.h>

#include "log/log.h"
#include "tests/support/log_capture.h"
#include "tests/support/metrics.h"
#include "tests/support/sim_database.h"
#include "tsdb/error.h"
#include "tsdb/extraction.h"
#include "tsdb/level_insert.h"

using namespace tsdb;
using namespace testing_support;

namespace {

class Buffer : public ::testing::Test {
protected:
    uint32_t finest(uint32_t id) { return db.chain(ChainKind::check).check_entry(id).first_lblock; }
    size_t stored(uint32_t id) {
        const uint32_t l = finest(id);
        const uint32_t size = db.chain(ChainKind::lblock).lblock_entry(l).dblocks * 1024;
        const uint32_t used =
            (db.chain(ChainKind::tail).position(l) + size - db.chain(ChainKind::head).position(l)) %
            size;
        return used / continuous_record_t::size;
    }
    static continuous_record_t sample(uint32_t t, float v = 1) { return {t, 60, 1, 0, v, v, v}; }

    SimDisk disk = formatted_disk(small_database(600));
    Database db = open_on(disk);
    WriteBuffer buffer{db};
};

}  // namespace

TEST(CyclicVector, BoundsAreFailures) {
    cyclic_vector<int> ring(2);
    EXPECT_THROW(ring.pop(), error::ERange);
    try {
        ring.peek();
        FAIL() << "peek on an empty ring";
    } catch (const error::ERange& e) {
        EXPECT_EQ(e.text(), "cyclic_vector const peek underflow");
    }
    ring.push(1);
    ring.push(2);
    EXPECT_TRUE(ring.full());
    try {
        ring.push(3);
        FAIL() << "push on a full ring";
    } catch (const error::ERange& e) {
        EXPECT_EQ(e.text(), "cyclic_vector push overflow");
    }
    EXPECT_EQ(ring.pop(), 1);
    ring.push(3);
    EXPECT_EQ(ring.peek_head(), 3);
    EXPECT_EQ(ring.at(0), 2);
}

TEST_F(Buffer, SamplesAccumulateBelowTheResolution) {
    const uint32_t id = db.allocate_described_ts({1, {{100, 300}}});
    const uint64_t merged = counter("entrycache", "buffer_write_aggr");
    for (uint32_t t = 0; t <= 240; t += 60) {
        buffer.insert<1>(id, sample(t, static_cast<float>(t)));
    }
    const auto held = buffer.buffered<1>(id);
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(held[0], (continuous_record_t{0, 240, 4, 0, 0, 180, 90}));
    EXPECT_EQ(held[1], sample(240, 240));
    EXPECT_EQ(counter("entrycache", "buffer_write_aggr") - merged, 3u);
    // The newest record is the one given, not the merged one.
    buffer.insert<1>(id, sample(300, 7));
    EXPECT_EQ(buffer.extract_newest<1>(id), sample(300, 7));
    EXPECT_EQ(stored(id), 0u);
}

TEST_F(Buffer, SizeThresholdWritesAllButTheNewest) {
    const uint32_t id = db.allocate_described_ts({1, {{100, 60}}});
    for (uint32_t i = 0; i < 7; ++i) {
        buffer.insert<1>(id, sample(i * 60));
    }
    EXPECT_EQ(stored(id), 0u);
    const int64_t writes = disk.writes();
    buffer.insert<1>(id, sample(7 * 60));
    EXPECT_EQ(stored(id), 7u);
    EXPECT_EQ(disk.writes() - writes, 1) << "a batch that fits is one write";
    EXPECT_EQ(buffer.buffered<1>(id).size(), 1u);

    const uint32_t exact = db.allocate_described_ts({1, {{100, 1}}});  // no accumulation
    for (uint32_t i = 0; i < 8; ++i) {
        buffer.insert<1>(exact, sample(i * 60));
    }
    EXPECT_EQ(stored(exact), 8u);
    EXPECT_TRUE(buffer.buffered<1>(exact).empty());
}

TEST_F(Buffer, AFullRingWaitsForAPhaseShiftOnlyWhenItMust) {
    buffer.configure({4, 100, 600, 8});
    const uint32_t id = db.allocate_described_ts({1, {{36, 60}}});  // one block, 36 records
    uint32_t t = 0;
    while (insert_into_series<1>(db, id, sample(t))) {  // fill it; the freed room awaits a shift
        t += 60;
    }
    for (int i = 0; i < 4; ++i, t += 60) {
        buffer.insert<1>(id, sample(t));
    }
    const uint64_t blocked = counter("entrycache", "buffer_filled_block");
    testing_support::LogCapture log;
    buffer.insert<1>(id, sample(t));
    EXPECT_EQ(log.count("Insert into check " + std::to_string(id) +
                        " write buffer blocked on phase shift!"),
              1u);
    EXPECT_EQ(counter("entrycache", "buffer_filled_block") - blocked, 1u);
    EXPECT_EQ(buffer.buffered<1>(id).size(), 4u);
}

TEST_F(Buffer, AgeFlushVisitsBuffersInTurn) {
    std::vector<uint32_t> ids;
    for (int i = 0; i < 3; ++i) {
        ids.push_back(db.allocate_described_ts({1, {{100, 1}}}));
        buffer.insert<1>(ids.back(), sample(1000));
    }
    buffer.configure({32, 8, 600, 0});
    buffer.age_flush(5000);
    for (uint32_t id : ids) {
        EXPECT_EQ(stored(id), 0u);
    }
    buffer.configure({32, 8, 600, 1});
    buffer.age_flush(1600);  // not old enough yet: waited exactly the limit
    EXPECT_EQ(stored(ids[0]), 0u);
    buffer.age_flush(5000);  // the cursor has moved on to the second buffer
    EXPECT_EQ(stored(ids[0]), 0u);
    EXPECT_EQ(stored(ids[1]), 1u);
    buffer.age_flush(5000);
    buffer.age_flush(5000);  // past the end: the visit returns the cursor to the start
    buffer.age_flush(5000);
    for (uint32_t id : ids) {
        EXPECT_EQ(stored(id), 1u);
    }
}

TEST_F(Buffer, FlushAllLosesNothingAndForgetWritesNothing) {
    buffer.configure({4, 100, 600, 8});
    std::vector<uint32_t> ids;
    for (int i = 0; i < 5; ++i) {
        ids.push_back(db.allocate_described_ts({1, {{300, 60}, {100, 3600}}}));
    }
    for (uint32_t t = 0; t < 200 * 60; t += 60) {
        for (uint32_t id : ids) {
            buffer.insert<1>(id, sample(t));
        }
    }
    const uint32_t dropped = db.allocate_described_ts({2, {{50, 60}}});
    buffer.insert<2>(dropped, enum_record_t{0, 60, 1, 0, 1});
    EXPECT_EQ(buffer.forget(dropped), 1u);

    testing_support::LogCapture log;
    buffer.flush_all();
    EXPECT_EQ(log.count("Flushing all in-memory buffers to disk"), 1u);
    EXPECT_EQ(log.count("In-memory buffer flush complete"), 1u);
    for (uint32_t id : ids) {
        EXPECT_EQ(stored(id), 200u);
        EXPECT_TRUE(buffer.buffered<1>(id).empty());
    }
    EXPECT_EQ(failure_text<error_empty>([&] { buffer.extract_newest<2>(dropped); }),
              "No records in given series, cannot extract newest");
}

TEST_F(Buffer, NewestEntryComesFromMemoryAfterTheFirstMiss) {
    const uint32_t id = db.allocate_described_ts({2, {{50, 60}}});
    const uint64_t misses = counter("entrycache", "newest_entry_misses");
    EXPECT_THROW(buffer.extract_newest<2>(id), error_empty);
    EXPECT_THROW(buffer.extract_newest<2>(id), error_empty);
    EXPECT_EQ(counter("entrycache", "newest_entry_misses") - misses, 2u);

    ASSERT_TRUE(insert_into_series<2>(db, id, enum_record_t{0, 60, 1, 0, 4}));
    ASSERT_TRUE(insert_into_series<2>(db, id, enum_record_t{60, 60, 1, 0, 8}));
    EXPECT_EQ(buffer.extract_newest<2>(id), (enum_record_t{60, 60, 1, 0, 8}));
    const uint64_t hits = counter("entrycache", "newest_entry_hits");
    EXPECT_EQ(buffer.extract_newest<2>(id), (enum_record_t{60, 60, 1, 0, 8}));
    EXPECT_EQ(counter("entrycache", "newest_entry_hits") - hits, 1u);
    EXPECT_EQ(failure_text<error_dbtype>([&] { buffer.extract_newest<1>(id); }),
              "Type mismatch - trying to extract type 1 in a type 2 level");

    buffer.insert<2>(id, enum_record_t{120, 60, 1, 0, 1});
    EXPECT_EQ(failure_text<error_internal>([&] { buffer.check_empty(id); }),
              "Non-empty write buffer when empty write buffer expected");
    buffer.external_flush(id);
    EXPECT_NO_THROW(buffer.check_empty(id));
}

TEST_F(Buffer, IncidentsApartAreKeptAndTheNewestRecordReachesTheFileByAge) {
    const uint32_t id = db.allocate_described_ts({4, {{4000, 60}}});
    buffer.configure({32, 8, 600, 8});
    buffer.insert<4>(id, {1000, 1, 1, "first"});
    buffer.insert<4>(id, {1010, 1, 2, "within the resolution"});
    buffer.insert<4>(id, {1070, 1, 3, "a minute on"});
    buffer.insert<4>(id, {1300, 1, 4, "later still"});
    const auto texts = [](const std::vector<incident_record_t>& records) {
        std::vector<std::string> t;
        for (const incident_record_t& r : records) {
            t.push_back(r.text);
        }
        return t;
    };
    EXPECT_EQ(texts(buffer.buffered<4>(id)),
              (std::vector<std::string>{"first", "a minute on", "later still"}));
    EXPECT_EQ(buffer.extract_newest<4>(id).text, "later still");

    // The newest record may still take samples, but not once it is older than the age limit.
    buffer.age_flush(1300 + 600);
    EXPECT_EQ(buffer.buffered<4>(id).size(), 1u);
    buffer.age_flush(1300 + 601);
    EXPECT_TRUE(buffer.buffered<4>(id).empty());
    EXPECT_EQ(texts(get_data<4>(db, buffer, id, 0, 5000)),
              (std::vector<std::string>{"first", "a minute on", "later still"}));

    const uint32_t continuous = db.allocate_described_ts({1, {{100, 60}}});
    buffer.insert<1>(continuous, {1000, 20, 1, 0, 1, 1, 1});
    buffer.age_flush(1000 + 601);
    EXPECT_EQ(stored(continuous), 1u);
}
