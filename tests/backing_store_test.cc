#include "tsdb/file/backing_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/support/sim_database.h"
#include "tsdb/error.h"
#include "util/bytes.h"

using testing_support::failure_text;
using testing_support::FaultPlan;
using testing_support::SimDisk;
using testing_support::store_on;
using tsdb::BackingStore;

namespace {

uint32_t block_count_of_file(size_t bytes, uint32_t block_size = 1024) {
    SimDisk disk(std::vector<uint8_t>(bytes, 1));
    BackingStore store = store_on(disk);
    store.set_block_size(block_size);
    return store.block_count();
}

}  // namespace

TEST(BackingStore, DirectoryOfAPath) {
    EXPECT_EQ(BackingStore::store_directory("/data/db.tsdb"), "/data/");
    EXPECT_EQ(BackingStore::store_directory("C:\\data\\db.tsdb"), "C:\\data\\");
    EXPECT_EQ(BackingStore::store_directory("C:"), "C:\\");
    EXPECT_EQ(BackingStore::store_directory("/data/"), "/data/");
    EXPECT_EQ(BackingStore::store_directory("a/b\\c"), "a/b\\");
    EXPECT_EQ(BackingStore::store_directory("db.tsdb"), "");
    EXPECT_EQ(failure_text<tsdb::error_io>([] { BackingStore::open_backing_store("db.tsdb"); }),
              "Cannot give empty name to TSDB backing store");
}

TEST(BackingStore, OpeningNeedsAnExistingFileThatNoOtherWriterHolds) {
    EXPECT_EQ(failure_text<tsdb::error_open>(
                  [] { BackingStore::open_backing_store("/nonexistent/db.tsdb"); }),
              std::string("Unable to open \"/nonexistent/db.tsdb\": ") + std::strerror(ENOENT));

    const std::string path = testing::TempDir() + "backing_store_lock.tsdb";
    ASSERT_NE(platform::create_random_access_file(path, 4096, true).file, nullptr);
    {
        BackingStore first = BackingStore::open_backing_store(path);
        const uint8_t mark = 0x5A;
        first.btbo_WriteFile(0, 100, {&mark, 1});
        // Replacing a held file is refused before anything in it changes.
        const platform::OpenedFile replaced = platform::create_random_access_file(path, 1024, true);
        EXPECT_EQ(replaced.file, nullptr);
        EXPECT_EQ(replaced.error, EBUSY);
        EXPECT_EQ(platform::create_random_access_file(path, 1024, false).error, EEXIST);
        uint8_t kept = 0;
        EXPECT_EQ(first.botb_ReadFile({&kept, 1}, 0, 100), 1u);
        EXPECT_EQ(kept, mark);
        EXPECT_EQ(failure_text<tsdb::error_open>([&] { BackingStore::open_backing_store(path); }),
                  "Unable to open \"" + path + "\": " + std::strerror(EBUSY));
        // A reader takes no lock: it reads what the writer wrote.
        BackingStore reader = BackingStore::open_backing_store(path, platform::Access::read_only);
        EXPECT_EQ(reader.botb_ReadFile({&kept, 1}, 0, 100), 1u);
        EXPECT_EQ(kept, mark);
    }
    // And never keeps a writer out.
    BackingStore reader = BackingStore::open_backing_store(path, platform::Access::read_only);
    BackingStore another = BackingStore::open_backing_store(path, platform::Access::read_only);
    BackingStore writer = BackingStore::open_backing_store(path);
    unlink(path.c_str());
}

TEST(BackingStore, BlockCountIsTheHighestReadableBlock) {
    EXPECT_EQ(block_count_of_file(0), 0u);
    EXPECT_EQ(block_count_of_file(1024), 0u);
    EXPECT_EQ(block_count_of_file(1025), 1u);
    EXPECT_EQ(block_count_of_file(10 * 1024), 9u);
    EXPECT_EQ(block_count_of_file(10 * 1024 + 5), 10u);
    EXPECT_EQ(block_count_of_file(1024 * 1024), 1023u);
    EXPECT_EQ(block_count_of_file(1025 * 1024), 1024u);
    EXPECT_EQ(block_count_of_file(5000 * 1024), 4999u);
    EXPECT_EQ(block_count_of_file(8192 * 1024 + 1), 8192u);
    EXPECT_EQ(block_count_of_file(300 * 4096, 4096), 299u);
}

TEST(BackingStore, GrowthZeroesTheNewBlocksAndKeepsALastBlockOutside) {
    SimDisk disk(std::vector<uint8_t>(10 * 1024, 0xAB));
    BackingStore store = store_on(disk);
    store.set_block_size(1024);
    store.grow_backing_store(3);
    EXPECT_EQ(store.block_count(), 12u);
    EXPECT_EQ(disk.current().size(), 13u * 1024);
    EXPECT_EQ(disk.current()[9 * 1024 - 1], 0xAB);
    for (size_t i = 9 * 1024; i < 13 * 1024; ++i) {
        ASSERT_EQ(disk.current()[i], 0) << i;
    }
    store.set_block_size(1024);
    EXPECT_EQ(store.block_count(), 12u);  // a reopened file counts what growth gave
}

TEST(BackingStore, ByteRangesCrossBlocksAndShortReadsStopAtTheEnd) {
    SimDisk disk(std::vector<uint8_t>(8 * 1024, 0));
    BackingStore store = store_on(disk);
    store.set_block_size(1024);
    const std::string text = "crossing a block boundary";
    store.btbo_WriteFile(2, 2040, util::byte_span(text));
    EXPECT_EQ(std::memcmp(disk.current().data() + 2 * 1024 + 2040, text.data(), text.size()), 0);
    std::string back(text.size(), '\0');
    EXPECT_EQ(store.botb_ReadFile(util::byte_span(back), 0, 4088), text.size());
    EXPECT_EQ(back, text);
    std::vector<uint8_t> tail(1024);
    EXPECT_EQ(store.botb_ReadFile(std::span(tail).first(100), 7, 1000), 24u);
    EXPECT_EQ(
        failure_text<tsdb::error_read>([&] { store.btb_ReadFile(tail, 8); }),
        "Cannot seq. read 1024 bytes at block 8 offset 0: \"" + std::string(strerror(EIO)) + "\"");
}

TEST(BackingStore, FailuresNameTheTransferAndTheSystemText) {
    SimDisk disk(std::vector<uint8_t>(8 * 1024, 0));
    FaultPlan plan;
    plan.fail_write = 1;
    plan.write_errno = ENOSPC;
    plan.fail_sync = 0;
    plan.sync_errno = EIO;
    plan.free_bytes = 4ull << 40;
    BackingStore store = store_on(disk, plan);
    store.set_block_size(1024);
    const std::vector<uint8_t> block(1024, 7);
    store.btb_WriteFile(1, block);
    const std::string no_space = std::strerror(ENOSPC);
    EXPECT_EQ(failure_text<tsdb::error_read>([&] { store.btb_WriteFile(3, block); }),
              "Cannot seq. write 1024 bytes at block 3 offset 0: \"" + no_space + "\"");
    EXPECT_EQ(failure_text<tsdb::error_io>([&] { store.sync_writes(); }),
              "flush failed with error: \"" + std::string(std::strerror(EIO)) + "\"");
    EXPECT_EQ(failure_text<tsdb::error_toobig>([&] { store.cgs_space(); }),
              "TSDB backing store is more than 2^32 blocks");
    store.set_block_size(2048);
    EXPECT_EQ(store.cgs_space(), 2147483648u);
}
