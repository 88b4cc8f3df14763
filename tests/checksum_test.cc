#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tsdb/file/crc2x32.h"
#include "tsdb/file/crc32.h"

namespace {

uint32_t reference_crc(const uint8_t* p, size_t n) {
    uint32_t r = 0xFFFFFFFF;
    for (size_t i = 0; i < n; ++i) {
        r ^= p[i];
        for (int bit = 0; bit < 8; ++bit) {
            r = (r & 1) != 0 ? (r >> 1) ^ 0xEDB88320 : r >> 1;
        }
    }
    return r ^ 0xFFFFFFFF;
}

std::vector<uint8_t> digest_of(security::Hash& hash) {
    std::vector<uint8_t> digest(hash.digest_size());
    hash.write_digest(digest.data());
    return digest;
}

std::vector<uint8_t> crc32_digest(const std::string& text) {
    security::Crc32 crc;
    crc.reset();
    crc.update(text.data(), text.size());
    return digest_of(crc);
}

std::vector<uint8_t> joined(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(Crc32, KnownValuesAndBigEndianDigest) {
    EXPECT_EQ(crc32_digest("123456789"), (std::vector<uint8_t>{0xCB, 0xF4, 0x39, 0x26}));
    EXPECT_EQ(crc32_digest(""), (std::vector<uint8_t>{0, 0, 0, 0}));
    security::Crc32 crc;
    crc.reset();
    for (char c : std::string("123456789")) {
        crc.update(static_cast<uint8_t>(c));
    }
    EXPECT_EQ(crc.value(), 0xCBF43926u);
    crc.reset();
    EXPECT_EQ(crc.value(), 0u);
}

TEST(Crc32, EveryLengthAndAlignmentMatchesTheBitwiseDefinition) {
    std::mt19937 random(7);
    std::vector<uint8_t> data(5000);
    for (auto& byte : data) {
        byte = static_cast<uint8_t>(random());
    }
    for (size_t offset = 0; offset < 16; offset += 3) {
        for (size_t length = 0; length < 300; ++length) {
            security::Crc32 crc;
            crc.reset();
            crc.update(data.data() + offset, length);
            ASSERT_EQ(crc.value(), reference_crc(data.data() + offset, length))
                << "offset " << offset << " length " << length;
        }
    }
    // Long runs through the wide path, fed whole and in uneven pieces.
    security::Crc32 whole, pieces;
    whole.reset();
    pieces.reset();
    whole.update(data.data(), data.size());
    for (size_t at = 0, step = 1; at < data.size(); at += step, step = step * 3 % 997 + 1) {
        pieces.update(data.data() + at, std::min(step, data.size() - at));
    }
    EXPECT_EQ(whole.value(), reference_crc(data.data(), data.size()));
    EXPECT_EQ(pieces.value(), whole.value());
}

TEST(Crc2x32, SplitsTheSequenceIntoEvenAndOddBytesHoweverItIsFed) {
    security::Crc2x32 one_run, three_runs, bytewise;
    one_run.reset();
    three_runs.reset();
    bytewise.reset();
    one_run.update("abcd", 4);
    three_runs.update("a", 1);
    three_runs.update("bc", 2);
    three_runs.update("d", 1);
    for (char c : std::string("abcd")) {
        bytewise.update(static_cast<uint8_t>(c));
    }
    const auto expected = joined(crc32_digest("ac"), crc32_digest("bd"));
    EXPECT_EQ(digest_of(one_run), expected);
    EXPECT_EQ(digest_of(three_runs), expected);
    EXPECT_EQ(digest_of(bytewise), expected);

    security::Crc2x32 single;
    single.reset();
    single.update("x", 1);
    EXPECT_EQ(digest_of(single), joined(crc32_digest("x"), {0, 0, 0, 0}));
}

TEST(Crc2x32, LongOddLengthRunsAcrossChunks) {
    std::string data(10001, '\0');
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 31 + 7);
    }
    std::string evens, odds;
    for (size_t i = 0; i < data.size(); ++i) {
        (i % 2 == 0 ? evens : odds) += data[i];
    }
    security::Crc2x32 hash;
    hash.reset();
    hash.update(data.data(), 4097);
    hash.update(data.data() + 4097, data.size() - 4097);
    EXPECT_EQ(digest_of(hash), joined(crc32_digest(evens), crc32_digest(odds)));
    hash.reset();
    EXPECT_EQ(digest_of(hash), std::vector<uint8_t>(8, 0));
}
