#include <gtest/gtest.h>

#include "log/log.h"
#include "log/storage_log.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_database.h"
#include "tsdb/error.h"
#include "tsdb/file/consistency_check.h"
#include "util/bytes.h"

using namespace testing_support;
using tsdb::ChainKind;
using tsdb::Database;

namespace {

// The small test database: 256 blocks of 1 KiB, 3 copies; pointer block of
// kind k, copy i at block 1 + 3k + i.
constexpr uint32_t copies = 3;

uint32_t pointer_block(ChainKind kind, uint32_t copy) {
    return 1 + static_cast<uint32_t>(kind) * copies + copy;
}

struct Image {
    std::vector<uint8_t> bytes = formatted_disk().current();

    void put32(size_t offset, uint32_t v) { util::store_be32(bytes.data() + offset, v); }
    size_t descriptor(ChainKind kind, uint32_t copy) const {
        return 24 + 16 * (static_cast<uint32_t>(kind) * copies + copy);
    }
    // A descriptor with a new generation and first dblock and a valid checksum.
    void commit(ChainKind kind, uint32_t copy, uint64_t generation, uint32_t first) {
        uint8_t* d = bytes.data() + descriptor(kind, copy);
        util::store_be64(d, generation);
        util::store_be32(d + 8, first);
        util::store_be32(d + 12, tsdb::descriptor_checksum(d));
    }
    void break_checksum(ChainKind kind, uint32_t copy) { bytes[descriptor(kind, copy) + 12] ^= 1; }
    size_t entry(ChainKind kind, uint32_t copy, uint32_t index) const {
        return size_t{pointer_block(kind, copy)} * 1024 + 16 +
               index * tsdb::chain_kind_info(kind).entry_size;
    }
    void format_block(uint32_t block, ChainKind kind, uint32_t next) {
        tsdb::format_pointer_block(bytes.data() + size_t{block} * 1024, 1024, kind, 0, next, 0);
    }
    Database inspect() {
        disk = SimDisk(bytes);
        return Database::inspect(store_on(disk));
    }
    Database open() {
        disk = SimDisk(bytes);
        return open_on(disk);
    }
    std::string open_failure() {
        return failure_text<tsdb::error_generic>([this] { open(); });
    }
    SimDisk disk;
};

}  // namespace

TEST(DatabaseOpen, HeaderRulesAreCheckedInOrder) {
    const auto failure_with = [](size_t offset, uint32_t value) {
        Image image;
        image.put32(offset, value);
        return image.open_failure();
    };
    EXPECT_EQ(failure_with(0, 0x54534443), "Invalid magic in header");
    EXPECT_EQ(failure_with(4, 2), "Unsupported database format version (2)");
    EXPECT_EQ(failure_with(8, 1536), "Unsupported block size (1536)");
    EXPECT_EQ(failure_with(8, 17408), "Unsupported block size (17408)");
    EXPECT_EQ(failure_with(8, 512), "Unsupported block size (512)");
    EXPECT_EQ(failure_with(20, 1), "Invalid number of chains: 1");
    EXPECT_EQ(failure_with(20, 6), "Invalid number of chains: 6");
    Image both;
    both.put32(0, 0);
    both.put32(4, 9);
    EXPECT_EQ(both.open_failure(), "Invalid magic in header");

    SimDisk large = formatted_disk(small_database(64, 16384, 5));
    const Database db = open_on(large);
    EXPECT_EQ(db.block_size(), 16384u);
    EXPECT_EQ(db.header().copies(), 5u);
}

TEST(DatabaseOpen, CopyInUseHasTheGreatestValidGeneration) {
    Image ties;
    ties.commit(ChainKind::check, 0, 7, pointer_block(ChainKind::check, 0));
    ties.commit(ChainKind::check, 1, 7, pointer_block(ChainKind::check, 1));
    ties.commit(ChainKind::check, 2, 3, pointer_block(ChainKind::check, 2));
    EXPECT_EQ(ties.inspect().copy_in_use(ChainKind::check), 1u);

    Image broken;
    broken.commit(ChainKind::head, 1, 3, pointer_block(ChainKind::head, 1));
    broken.break_checksum(ChainKind::head, 1);
    broken.break_checksum(ChainKind::head, 2);
    EXPECT_EQ(broken.inspect().copy_in_use(ChainKind::head), 0u);
    // The open shifts every kind once before anything changes.
    EXPECT_EQ(broken.open().copy_in_use(ChainKind::head), 1u);

    Image none;
    for (uint32_t copy = 0; copy < copies; ++copy) {
        none.break_checksum(ChainKind::lblock, copy);
    }
    EXPECT_EQ(none.open_failure(), "No valid lblock pointer chain found");
}

TEST(DatabaseOpen, EveryCopyMustLoad) {
    Image beyond;
    beyond.commit(ChainKind::tail, 1, 0, 5000);
    EXPECT_EQ(beyond.open_failure(), "Unable to seek to offset of chain 1");
    Image last_block;  // the file's last block lies outside the database
    last_block.format_block(256, ChainKind::tail, 0);
    last_block.commit(ChainKind::tail, 1, 0, 256);
    EXPECT_EQ(last_block.open_failure(), "Unable to seek to offset of chain 1");
    Image run_into_last;
    run_into_last.format_block(255, ChainKind::head, 256);
    run_into_last.format_block(256, ChainKind::head, 0);
    run_into_last.commit(ChainKind::head, 2, 0, 255);
    EXPECT_EQ(run_into_last.open_failure(), "Unable to seek to offset of chain 2");

    Image magic;
    magic.put32(size_t{pointer_block(ChainKind::lblock, 1)} * 1024, 0x12345678);
    EXPECT_EQ(magic.open_failure(), "LBlock pointer block has bad magic at dblock 8");
    Image ht;
    ht.put32(size_t{pointer_block(ChainKind::tail, 0)} * 1024, 0);
    EXPECT_EQ(ht.open_failure(), "H/T pointer block has bad magic at dblock 4");

    Image loop;
    loop.put32(size_t{pointer_block(ChainKind::check, 2)} * 1024 + 4,
               pointer_block(ChainKind::check, 2));
    EXPECT_EQ(loop.open_failure(), "Block 12 doubly allocated");

    Image runs;  // Check copy 0 in blocks 100, 101, 102, 140, 141
    for (uint32_t b : {100u, 101u, 102u, 140u, 141u}) {
        runs.format_block(b, ChainKind::check, b == 102 ? 140 : b == 141 ? 0 : b + 1);
    }
    runs.commit(ChainKind::check, 0, 0, 100);
    const Database db = runs.inspect();
    const tsdb::PointerChain& chain = db.copies(ChainKind::check)[0];
    ASSERT_EQ(chain.runs().size(), 2u);
    EXPECT_EQ(chain.runs()[0].blocks, 3u);
    EXPECT_EQ(chain.runs()[1].first_dblock, 140u);
    EXPECT_EQ(chain.capacity(), 5u * 126);
    EXPECT_TRUE(find_problems(db).empty());
}

TEST(DatabaseOpen, RepairsDropLevelsAndSeriesThatCannotBeRight) {
    Image image;
    const uint32_t in_use = 2;  // all generations 0: the highest copy wins
    auto lblock = [&](uint32_t l, tsdb::lblock_entry_t e) {
        const size_t at = image.entry(ChainKind::lblock, in_use, l);
        image.put32(at, e.first_dblock);
        image.put32(at + 4, e.dblocks);
        image.put32(at + 8, e.next);
        image.put32(at + 12, e.resolution);
    };
    auto check = [&](uint32_t c, tsdb::check_entry_t e) {
        const size_t at = image.entry(ChainKind::check, in_use, c);
        image.put32(at, e.data_type);
        image.put32(at + 4, e.first_lblock);
    };
    lblock(1, {250, 20, 0, 60});  // beyond the end of 256 blocks
    lblock(2, {5, 1, 0, 60});     // a pointer block
    lblock(3, {200, 2, 0, 60});
    lblock(4, {210, 0, 0, 60});  // no blocks (a level of size 0 divides by 0)
    lblock(5, {220, 2, 9, 60});  // its next level is free
    lblock(6, {230, 2, 7, 60});  // 6 -> 7 -> 6: a loop
    lblock(7, {240, 2, 6, 60});
    lblock(8, {245, 2, 0, 60});
    check(0, {1, 1});
    check(1, {1, 99999});
    check(2, {1, 0});
    check(3, {2, 3});
    check(4, {1, 5});
    check(5, {1, 6});
    check(6, {1, 7});                                            // inside series 5's list
    check(7, {9, 8});                                            // no such type
    image.put32(image.entry(ChainKind::tail, in_use, 3), 5000);  // outside its 2048 bytes

    // Looked at as it is, the loop is refused rather than walked forever.
    EXPECT_EQ(failure_text<tsdb::error_consistency>([&] { image.inspect().levels_of(5); }),
              "Level list of check id 5 loops");

    logging::set_storage_verbosity(14);
    testing_support::LogCapture log;
    const Database db = image.open();
    logging::set_storage_verbosity(12);
    EXPECT_TRUE(log.has("LBlock 1 points beyond the end of the TSDB - removing LBlock!"));
    EXPECT_TRUE(log.has("LBlock 2 points to referenced space - removing LBlock!"));
    EXPECT_TRUE(log.has("LBlock 4 has no blocks - removing LBlock!"));
    EXPECT_TRUE(log.has("LBlock 5 has an unallocated next level 9. Cutting the level list there!"));
    EXPECT_TRUE(
        log.has("LBlock 7 has an already listed next level 6. Cutting the level list there!"));
    EXPECT_TRUE(log.has("Check #6 shares lblock 7 with another series. Removing check!"));
    EXPECT_TRUE(log.has("Check #0 referenced unallocated lblock. Removing check!"));
    EXPECT_TRUE(
        log.has("Check #1 referenced lblock 99999 which is out of bounds. Removing check!"));
    EXPECT_TRUE(log.has("Check #2 has no levels. Removing check!"));
    EXPECT_TRUE(log.has("Check #7 has unknown data type 9. Removing check!"));
    EXPECT_TRUE(log.has("LBlock 3 has its head or tail outside the level - emptying it!"));
    EXPECT_EQ(db.chain(ChainKind::tail).position(3), 0u);
    EXPECT_TRUE(log.has("Head chain 2 is our consistent chain"));
    EXPECT_TRUE(log.has("Phase shift from Check chain 2 to chain 0 complete!"));

    const tsdb::PointerChain& lblocks = db.chain(ChainKind::lblock);
    EXPECT_EQ(lblocks.lblock_entry(1), tsdb::lblock_entry_t{});
    EXPECT_EQ(lblocks.lblock_entry(2), tsdb::lblock_entry_t{});
    EXPECT_EQ(lblocks.lblock_entry(3), (tsdb::lblock_entry_t{200, 2, 0, 60}));
    EXPECT_EQ(lblocks.lblock_entry(4), tsdb::lblock_entry_t{});
    EXPECT_EQ(lblocks.lblock_entry(5), (tsdb::lblock_entry_t{220, 2, 0, 60}));
    EXPECT_EQ(lblocks.lblock_entry(7), (tsdb::lblock_entry_t{240, 2, 0, 60}));
    const tsdb::PointerChain& checks = db.chain(ChainKind::check);
    EXPECT_EQ(checks.check_entry(0), tsdb::check_entry_t{});
    EXPECT_EQ(checks.check_entry(1), tsdb::check_entry_t{});
    EXPECT_EQ(checks.check_entry(2), tsdb::check_entry_t{});
    EXPECT_EQ(checks.check_entry(3), (tsdb::check_entry_t{2, 3}));
    EXPECT_EQ(checks.check_entry(6), tsdb::check_entry_t{});
    EXPECT_EQ(checks.check_entry(7), tsdb::check_entry_t{});
    EXPECT_TRUE(db.allocation().test(201));
    EXPECT_TRUE(db.check_id_exists(3));
    EXPECT_EQ(find_problems(db), std::vector<std::string>{});

    // The repairs were committed: a second open finds nothing to repair.
    Image again;
    again.bytes = image.disk.durable();
    testing_support::LogCapture second;
    again.open();
    EXPECT_FALSE(second.has("Check #0 referenced unallocated lblock. Removing check!"));
}

TEST(DatabaseOpen, RewritingTheHeaderKeepsBytesItDoesNotOwn) {
    Image image;
    for (size_t i = 12; i < 20; ++i) {
        image.bytes[i] = static_cast<uint8_t>(0xA0 + i);
    }
    for (size_t i = 24 + 64 * copies; i < 1024; ++i) {
        image.bytes[i] = static_cast<uint8_t>(i);
    }
    Database db = image.open();
    db.allocate_described_ts({1, {{10, 60}}});
    const std::vector<uint8_t>& after = image.disk.current();
    EXPECT_TRUE(std::equal(after.begin() + 12, after.begin() + 20, image.bytes.begin() + 12));
    EXPECT_TRUE(std::equal(after.begin() + 24 + 64 * copies, after.begin() + 1024,
                           image.bytes.begin() + 24 + 64 * copies));
    EXPECT_FALSE(
        std::equal(after.begin() + 24, after.begin() + 24 + 64 * copies, image.bytes.begin() + 24));
}
