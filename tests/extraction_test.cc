#include "tsdb/extraction.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/sim_database.h"
#include "tsdb/error.h"
#include "tsdb/file/crc2x32.h"
#include "tsdb/level_insert.h"
#include "tsdb/level_records.h"
#include "tsdb/write_buffer.h"

using namespace tsdb;
using namespace testing_support;

namespace {

class Extraction : public ::testing::Test {
protected:
    // A series of two levels whose records the test places itself.
    void SetUp() override {
        id = db.allocate_described_ts({1, {{100, 60}, {100, 300}}});
        fine = db.chain(ChainKind::check).check_entry(id).first_lblock;
        coarse = db.chain(ChainKind::lblock).lblock_entry(fine).next;
    }
    void put(uint32_t level, uint32_t start, uint32_t end, float v = 1) {
        ASSERT_TRUE(insert_into_level<1>(db, level,
                                         continuous_record_t{start, end - start, 1, 0, v, v, v}));
    }
    std::vector<std::pair<uint32_t, uint32_t>> spans(int64_t from = 0, int64_t to = 1 << 30) {
        std::vector<std::pair<uint32_t, uint32_t>> out;
        for (const auto& r : get_data<1>(db, buffer, id, from, to)) {
            out.emplace_back(r.timestart, r.timestart + r.duration);
        }
        return out;
    }
    using Spans = std::vector<std::pair<uint32_t, uint32_t>>;

    SimDisk disk = formatted_disk(small_database(600));
    Database db = open_on(disk);
    WriteBuffer buffer{db};
    uint32_t id = 0, fine = 0, coarse = 0;
};

}  // namespace

TEST_F(Extraction, SeamsBetweenLevelsAreCut) {
    put(coarse, 0, 300);
    put(fine, 240, 300);
    EXPECT_EQ(spans(), (Spans{{0, 240}, {240, 300}}));
}

TEST_F(Extraction, OverlapRules) {
    put(coarse, 0, 300);
    put(fine, 100, 200);
    EXPECT_EQ(spans(), (Spans{{0, 100}, {100, 200}}));

    SetUp();  // a second series
    put(coarse, 0, 60);
    put(fine, 30, 130);
    EXPECT_EQ(spans(), (Spans{{0, 60}, {60, 130}}));

    SetUp();
    put(coarse, 200, 300);
    put(fine, 100, 250);
    put(fine, 100, 350);
    EXPECT_EQ(spans(), (Spans{{200, 300}, {300, 350}}));
}

TEST_F(Extraction, RangesIncludeFromExcludeToAndAddTheBuffer) {
    for (uint32_t t = 0; t < 600; t += 60) {
        put(fine, t, t + 60);
    }
    EXPECT_EQ(spans(120, 300), (Spans{{120, 180}, {180, 240}, {240, 300}}));
    buffer.configure({32, 100, 600, 8});
    buffer.insert<1>(id, continuous_record_t{6000, 60, 1, 0, 1, 1, 1});
    buffer.insert<1>(id, continuous_record_t{6060, 60, 1, 0, 1, 1, 1});
    EXPECT_EQ(spans(5000, 6060), (Spans{{6000, 6060}}));
    EXPECT_EQ(spans(6000, 7000).size(), 2u);
    EXPECT_TRUE(get_data<1>(db, buffer, id, 7000, 8000).empty());
    EXPECT_EQ(failure_text<error_dbtype>([&] { get_data<2>(db, buffer, id, 0, 1); }),
              "Type mismatch - trying to extract type 2 in a type 1 level");
}

TEST_F(Extraction, TruncationAndTheOldestRecord) {
    EXPECT_EQ(oldest_time(db, id), 0u);
    put(coarse, 0, 300);
    put(coarse, 300, 600);
    for (uint32_t t = 600; t < 900; t += 60) {
        put(fine, t, t + 60);
    }
    EXPECT_EQ(oldest_time(db, id), 0u);
    const uint32_t heads_before = db.chain(ChainKind::head).position(coarse);
    truncate_old_data<1>(db, buffer, id, -5);
    EXPECT_EQ(db.chain(ChainKind::head).position(coarse), heads_before);

    truncate_old_data<1>(db, buffer, id, 300);  // a record starting at t goes
    EXPECT_EQ(spans(), (Spans{{600, 660}, {660, 720}, {720, 780}, {780, 840}, {840, 900}}));
    EXPECT_EQ(oldest_time(db, id),
              600u);  // the coarse level is empty: the walk stops at the fine one

    truncate_old_data<1>(db, buffer, id, 659);
    EXPECT_EQ(spans().front(), (std::pair<uint32_t, uint32_t>{660, 720}));
    EXPECT_EQ(failure_text<error_dbtype>([&] { truncate_old_data<4>(db, buffer, id, 0); }),
              "Type mismatch - trying to truncate type 4 in a type 1 level");
}

TEST_F(Extraction, WholeSeriesStreamsEveryRecordAndRefusesBrokenOnes) {
    put(coarse, 0, 300, 2);
    put(fine, 300, 360, 3);
    buffer.insert<1>(id, continuous_record_t{360, 60, 1, 0, 4, 4, 4});
    std::vector<uint8_t> stream;
    read_whole_series<1>(
        db, buffer, id, [&](const uint8_t* b, size_t n) { stream.insert(stream.end(), b, b + n); });
    ASSERT_EQ(stream.size(), 3u * 28);  // the buffered record was flushed first
    EXPECT_EQ(decode_continuous(stream.data()), (continuous_record_t{0, 300, 1, 0, 2, 2, 2}));

    uint8_t broken[28] = {0xFF, 0xFF, 0xFF, 0xF0, 0, 0, 1, 0};
    ASSERT_TRUE(db.write_to_lblock(fine, broken));
    security::Crc2x32 crc;
    crc.reset();
    EXPECT_TRUE(failure_text<error_range>([&] {
                    read_whole_series<1>(db, buffer, id,
                                         [&](const uint8_t* b, size_t n) { crc.update(b, n); });
                }).starts_with("Trying to insert invalid record: (timestart 4294967280)"));
}

namespace {

// The range read as a plain walk of every level from its head: what a
// read that finds its start by time must give.
using Spans = std::vector<std::pair<uint32_t, uint32_t>>;

Spans walked_spans(Database& db, uint32_t id, int64_t from, int64_t to) {
    std::vector<uint32_t> levels;
    for (uint32_t l = db.chain(ChainKind::check).check_entry(id).first_lblock; l != 0;
         l = db.chain(ChainKind::lblock).lblock_entry(l).next) {
        levels.insert(levels.begin(), l);
    }
    Spans out;
    bool started = false;
    bool ended = false;
    for (uint32_t l : levels) {
        for_each_record<continuous_record_t>(db, l, [&](const continuous_record_t& x, uint32_t) {
            started = started || x.timestart >= from;
            if (!started) {
                return true;
            }
            if (x.timestart >= to) {
                ended = true;
                return false;
            }
            uint64_t start = x.timestart;
            const uint64_t end = start + x.duration;
            if (!out.empty()) {
                auto& [last_start, last_end] = out.back();
                if (start < last_start) {
                    if (end < last_end) {
                        return true;
                    }
                    start = last_end;
                } else if (start < last_end) {
                    if (end - start > uint64_t{last_end} - last_start) {
                        start = last_end;
                    } else {
                        last_end = static_cast<uint32_t>(start);
                    }
                }
            }
            out.emplace_back(static_cast<uint32_t>(start), static_cast<uint32_t>(end));
            return true;
        });
        if (ended) {
            break;
        }
    }
    return out;
}

}  // namespace

TEST_F(Extraction, FindingTheStartByTimeGivesWhatAWalkFromTheHeadGives) {
    std::mt19937 random(7);
    SimDisk big_disk = formatted_disk(small_database(2000));
    Database big = open_on(big_disk);
    // Uneven spacing (gaps, varying durations) so that guesses miss, small
    // levels so that rings wrap and aggregation leaves seams.
    const uint32_t series = big.allocate_described_ts({1, {{50, 60}, {40, 300}, {30, 3600}}});
    uint32_t t = 100000;
    for (int i = 0; i < 3000; ++i) {
        const uint32_t duration = random() % 4 == 0 ? 1 + random() % 200 : 60;
        t += random() % 10 == 0 ? random() % 5000 : 0;
        const continuous_record_t record{t, duration, 1, 0, 1, 1, 1};
        while (!insert_into_series<1>(big, series, record)) {
            big.phase_shift_all();  // aggregation's room opens at the shift
        }
        t += duration;
        if (i % 97 == 0) {
            for (int q = 0; q < 20; ++q) {
                const int64_t from = 90000 + int64_t(random() % (t - 80000));
                const int64_t to = from + int64_t(random() % 20000);
                Spans got;
                for (const auto& r : get_data<1>(big, buffer, series, from, to)) {
                    got.emplace_back(r.timestart, r.timestart + r.duration);
                }
                ASSERT_EQ(got, walked_spans(big, series, from, to)) << from << " " << to;
            }
        }
    }
}
