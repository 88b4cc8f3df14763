#include "tsdb/record.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "tests/support/sim_database.h"
#include "tsdb/error.h"

using namespace tsdb;
using testing_support::failure_text;

namespace {

template <typename Record>
std::vector<uint8_t> encoded(const Record& r) {
    std::vector<uint8_t> bytes(encoded_size(r));
    encode(r, bytes);
    return bytes;
}

incident_record_t incident_round_trip(const incident_record_t& r) {
    const std::vector<uint8_t> bytes = encoded(r);
    incident_record_t back;
    const uint32_t length = decode_incident_head(bytes.data(), back);
    EXPECT_EQ(bytes.size(), 16 + padded_text_size(length));
    std::copy(bytes.begin() + 16, bytes.begin() + 16 + length, back.text.begin());
    return back;
}

}  // namespace

TEST(Records, EveryTypeRoundTripsThroughItsBigEndianForm) {
    std::mt19937 random(3);
    const auto below = [&](uint32_t bound) { return static_cast<uint32_t>(random() % bound); };
    for (int i = 0; i < 200; ++i) {
        const float low = static_cast<float>(below(1000)) / 8;
        const continuous_record_t c{below(0x7FFFFFFF), below(86400), below(100) + 1, below(5), low,
                                    low + 10,          low + 2.5f};
        EXPECT_EQ(decode_continuous(encoded(c).data()), c);
        const enum_record_t e{below(0x7FFFFFFF), below(600), below(9), below(9), below(0xFFFFFFFF)};
        EXPECT_EQ(decode_enum(encoded(e).data()), e);
    }
    const std::vector<uint8_t> bytes = encoded(continuous_record_t{1, 2, 3, 4, 1.0f, 2.0f, 1.5f});
    EXPECT_EQ(bytes,
              (std::vector<uint8_t>{0, 0, 0,    1,    0, 0, 0,    2, 0, 0, 0,    3,    0, 0,
                                    0, 4, 0x3F, 0x80, 0, 0, 0x40, 0, 0, 0, 0x3F, 0xC0, 0, 0}));

    for (size_t length : {size_t{0}, size_t{1}, size_t{5}, size_t{8}, size_t{max_incident_text}}) {
        const incident_record_t r{100, 60, 3, std::string(length, 'x')};
        EXPECT_EQ(encoded_size(r), 16 + (length + 3) / 4 * 4);
        EXPECT_EQ(incident_round_trip(r), r);
    }
    // Every multi-byte field is big-endian, the mask and the text length too.
    EXPECT_EQ(encoded(enum_record_t{1, 2, 3, 4, 0x01020304}),
              (std::vector<uint8_t>{0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 1, 2, 3, 4}));
    EXPECT_EQ(encoded(incident_record_t{0x01020304, 1, 0x0506, "hello"}),
              (std::vector<uint8_t>{1, 2, 3, 4, 0,   0,   0,   1,   0,   0, 5, 6,
                                    0, 0, 0, 5, 'h', 'e', 'l', 'l', 'o', 0, 0, 0}));
}

TEST(Records, ValidityAndTheTextsOfRefusals) {
    EXPECT_TRUE(is_valid(continuous_record_t{5, 60, 0, 1, NAN, NAN, NAN}));
    const continuous_record_t below{5, 60, 1, 0, 2.0f, 3.0f, 1.0f};
    EXPECT_FALSE(is_valid(below));
    std::vector<uint8_t> buffer(28);
    EXPECT_EQ(failure_text<error_range>([&] { encode(below, buffer); }),
              "Trying to insert invalid record: (timestart 5)(duration 60)(ngood 1)(nbad 0)"
              "(min 2.000000)(max 3.000000)(avg 1.000000)");
    EXPECT_FALSE(is_valid(enum_record_t{0xFFFFFFF0, 0x10, 0, 0, 0}));
    EXPECT_TRUE(is_valid(enum_record_t{0xFFFFFFF0, 0x0F, 0, 0, 0}));
    EXPECT_FALSE(is_valid(enum_record_t{}));
    EXPECT_EQ(failure_text<error_range>([&] {
                  encode(enum_record_t{0xFFFFFFF0, 0x10, 0, 0, 0}, buffer);
              }),
              "Trying to insert invalid record");

    std::vector<uint8_t> big(16 + max_incident_text + 4);
    EXPECT_EQ(failure_text<error_range>([&] {
                  encode(incident_record_t{1, 1, 1, std::string(max_incident_text + 1, 'y')}, big);
              }),
              "About to write incident record with excessive length (10485761 bytes)");
    // Invalidity is reported before the length.
    EXPECT_EQ(failure_text<error_range>([&] {
                  encode(
                      incident_record_t{1, no_duration, 1, std::string(max_incident_text + 1, 'y')},
                      big);
              }),
              "Trying to insert invalid record");
    std::vector<uint8_t> head(16, 0);
    head[13] = 0xA0;
    head[15] = 0x01;
    incident_record_t r;
    EXPECT_EQ(failure_text<error_need_repair>([&] { decode_incident_head(head.data(), r); }),
              "Incident record had excessive length (10485761 bytes)");
}

TEST(Records, DamagedContinuousRecordsComeBackAsBadSamples) {
    std::vector<uint8_t> bytes = encoded(continuous_record_t{10, 60, 4, 1, 1.0f, 5.0f, 3.0f});
    bytes[24] = 0x41;  // avg 8 and more, above max
    const continuous_record_t repaired = decode_continuous(bytes.data());
    EXPECT_EQ(repaired, (continuous_record_t{10, 60, 0, 5, 0, 0, 0}));
    bytes[16] = 0x7F;  // min becomes NaN
    bytes[17] = 0xC0;
    EXPECT_EQ(decode_continuous(bytes.data()).nbad, 5u);
}

TEST(Records, MergeFoldsSpansCountsAndValues) {
    continuous_record_t a{100, 60, 1, 0, 2.0f, 2.0f, 2.0f};
    merge(a, continuous_record_t{200, 60, 3, 2, 1.0f, 6.0f, 4.0f});
    EXPECT_EQ(a, (continuous_record_t{100, 160, 4, 2, 1.0f, 6.0f, 3.5f}));
    merge(a, continuous_record_t{50, 10, 0, 7, 0, 100, 100});  // only bad samples: values stay
    EXPECT_EQ(a, (continuous_record_t{50, 210, 4, 9, 1.0f, 6.0f, 3.5f}));
    merge(a, continuous_record_t{});
    EXPECT_EQ(a.duration, 210u);

    continuous_record_t empty;
    const continuous_record_t only_bad{7, 1, 0, 3, 0, 0, 0};
    merge(empty, only_bad);
    EXPECT_EQ(empty, only_bad);
    continuous_record_t from_bad = only_bad;
    merge(from_bad, continuous_record_t{8, 1, 2, 0, 4, 9, 5});
    EXPECT_EQ(from_bad, (continuous_record_t{7, 2, 2, 3, 4, 9, 5}));

    enum_record_t e{0, 60, 1, 0, 0x0F};
    merge(e, enum_record_t{120, 60, 2, 1, 0xF0});
    EXPECT_EQ(e, (enum_record_t{0, 180, 3, 1, 0xFF}));
    EXPECT_EQ(text(e), "(timestart 0)(duration 180)(ngood 3)(nbad 1)(mask ff)");

    incident_record_t first;
    merge(first, incident_record_t{10, 5, 2, "disk full"});
    merge(first, incident_record_t{20, 5, 9, "worse"});
    EXPECT_EQ(first, (incident_record_t{10, 5, 2, "disk full"}));
    EXPECT_EQ(text(first), "(timestart 10)(duration 5)(severity 2)(text \"disk full\")");
    EXPECT_EQ(text(continuous_record_t{1, 2, 0, 0, NAN, INFINITY, -INFINITY}),
              "(timestart 1)(duration 2)(ngood 0)(nbad 0)(min nan)(max inf)(avg -inf)");
}

TEST(Records, SeriesOfAnotherTypeAreRefusedInTheWordsOfTheirUse) {
    testing_support::SimDisk disk = testing_support::formatted_disk();
    Database db = testing_support::open_on(disk);
    const uint32_t id = db.allocate_described_ts({2, {{10, 60}}});
    const std::string n = std::to_string(id);
    using Use = Database::Use;
    EXPECT_EQ(db.typed_series(id, 2, Use::insert), db.series(id).first_lblock);
    const auto refusal = [&](Use use) {
        return failure_text<error_dbtype>([&] { db.typed_series(id, 1, use); });
    };
    EXPECT_EQ(refusal(Use::given),
              "Type mismatch - given check id (" + n + ") has type 2 but we expected 1");
    EXPECT_EQ(refusal(Use::insert),
              "Type mismatch - trying to insert type 1 in a type 2 level (id: " + n + ")");
    EXPECT_EQ(refusal(Use::extract), "Type mismatch - trying to extract type 1 in a type 2 level");
    EXPECT_EQ(refusal(Use::truncate),
              "Type mismatch - trying to truncate type 1 in a type 2 level");
    EXPECT_EQ(failure_text<error_internal>([&] { db.typed_series(id + 1, 1, Use::given); }),
              "Referenced unallocated check_id (" + std::to_string(id + 1) + ")");
}
