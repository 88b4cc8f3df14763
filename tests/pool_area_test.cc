#include "io/pool_area.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "io/control_message.h"

using namespace io;

namespace {

struct Pool {
    explicit Pool(uint64_t size) : bytes(size) {}
    PoolView view() { return PoolView(bytes.data(), bytes.size()); }
    std::vector<uint8_t> bytes;
};

// The blocks of the area in order, each checked to point back at the one before.
std::vector<uint64_t> tiling(const PoolArea& area) {
    std::vector<uint64_t> blocks;
    uint64_t prev = 0;
    for (uint64_t b = area.start(); b != area.end(); b = area.next_offset(b)) {
        EXPECT_LT(b, area.end());
        EXPECT_EQ(area.prev_offset(b), prev) << "block " << b;
        blocks.push_back(b);
        prev = b;
    }
    return blocks;
}

}  // namespace

TEST(PoolArea, MessagesSplitOrTakeTheirBlockWholeWithPadding) {
    Pool pool(4096);
    PoolArea area(pool.view(), 1024, 256);
    EXPECT_EQ(area.writable(), 240u);
    const uint64_t a = area.place(20);  // 16 + 20 rounds to 40: splits
    EXPECT_EQ(a, 1024u);
    EXPECT_TRUE(area.used(a));
    EXPECT_EQ(area.search_offset(), 1064u);
    EXPECT_EQ(area.prev_offset(1064), 1024u);
    EXPECT_EQ(area.writable(), 256u - 40 - 16);
    // Leaving exactly 8 bytes: the block is padded and takes the rest.
    const uint64_t b = area.place(area.writable() - 8);
    EXPECT_TRUE(area.padded(b));
    EXPECT_EQ(area.next_offset(b), area.end());
    EXPECT_EQ(area.search_offset(), no_free_block);
    EXPECT_EQ(area.writable(), 0u);
    EXPECT_EQ(tiling(area), (std::vector<uint64_t>{1024, 1064}));
    // The first acknowledgement makes room again, at the freed block.
    area.release(a);
    EXPECT_EQ(area.search_offset(), 1024u);
    EXPECT_EQ(area.writable(), 24u);
}

TEST(PoolArea, FreeingTheMiddleOfThreeMergesWithBothFreeNeighbours) {
    Pool pool(4096);
    PoolArea area(pool.view(), 512, 1024);
    const uint64_t a = area.place(100);
    const uint64_t b = area.place(100);
    const uint64_t c = area.place(100);
    area.place(100);
    area.release(a);
    area.release(c);
    EXPECT_EQ(tiling(area).size(), 5u);
    area.release(b);
    EXPECT_EQ(tiling(area), (std::vector<uint64_t>{512, 512 + 3 * 120, 512 + 4 * 120}));
    EXPECT_FALSE(area.used(512));
    EXPECT_EQ(area.next_offset(512), 512u + 3 * 120);
}

TEST(PoolArea, RandomTrafficKeepsTheTilingAndEndsAllFree) {
    Pool pool(1 << 16);
    PoolArea area(pool.view(), 4096, 8192);
    std::minstd_rand random(7);
    std::vector<uint64_t> in_flight;
    for (int step = 0; step < 20000; ++step) {
        const uint64_t want = 1 + random() % 700;
        if (area.writable() >= want && random() % 3 != 0) {
            in_flight.push_back(area.place(want));
        } else if (!in_flight.empty()) {
            const size_t i = random() % in_flight.size();
            area.release(in_flight[i]);
            in_flight.erase(in_flight.begin() + static_cast<std::ptrdiff_t>(i));
        }
        if (step % 97 == 0) {
            tiling(area);
        }
    }
    for (uint64_t b : in_flight) {
        area.release(b);
    }
    EXPECT_EQ(tiling(area), std::vector<uint64_t>{4096});
    EXPECT_EQ(area.writable(), 8192u - 16);
}

TEST(PoolAreaDeathTest, ABrokenTilingOrAnOffsetOutsideThePoolStops) {
    Pool pool(1024);
    PoolArea area(pool.view(), 512, 512);
    EXPECT_DEATH(area.at(1024), "Offset out of range: 1024 !< 1024");
    EXPECT_DEATH(area.place(0), "Creating empty block");
    pool.bytes[512 + 9] = 0x10;  // the free block's length now passes the area end
    EXPECT_DEATH(area.place(8), "\\(split\\) Next Offset of new block is at 4864");
}

TEST(ControlMessage, WordsAndTheirPrintedForms) {
    const ControlMessage at = ControlMessage::valued(ControlType::MessageAt, 4096, 20);
    EXPECT_EQ(at.word, 4097u);
    EXPECT_EQ(at.text(), "MessageAt(4096) [from:20]");
    uint8_t bytes[8];
    at.encode(bytes);
    EXPECT_EQ(bytes[0], 0x01);
    EXPECT_EQ(bytes[1], 0x10);
    EXPECT_EQ(bytes[4], 20);
    EXPECT_EQ(ControlMessage::decode(bytes), at);
    const ControlMessage died = ControlMessage::about(ControlType::SiblingDied, -3, 0);
    EXPECT_EQ(died.type(), ControlType::SiblingDied);
    EXPECT_EQ(died.sibling(), -3);
    EXPECT_EQ(died.text(), "SiblingDied(-3) [from:0]");
    EXPECT_EQ(ControlMessage::about(ControlType::IAmUp, 0, 20).word, 16u);
    EXPECT_EQ((ControlMessage{8, 3}).text(), "Undefined [from:3]");
    EXPECT_EQ((ControlMessage{5, 3}).type(), ControlType::Undefined);
    EXPECT_EQ(ControlMessage::valued(ControlType::ExtraSize, 65536, 0).text(),
              "ExtraSize(65536) [from:0]");
}
