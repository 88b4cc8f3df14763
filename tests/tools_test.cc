// The database creator and the inspector, driven as an operator would.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "error/exception.h"
#include "tests/support/command.h"
#include "tests/support/sim_database.h"
#include "tsdb/file/creation.h"
#include "util/bytes.h"

namespace {

using Outcome = testing_support::CommandOutcome;
using testing_support::run_command;

class Tools : public ::testing::Test {
protected:
    void SetUp() override { unlink(path.c_str()); }
    void TearDown() override { unlink(path.c_str()); }
    std::string inspect(const std::string& args) { return std::string(TSDB_INSPECT) + " " + args; }

    // Tests run in parallel processes: one file each.
    const std::string path = testing::TempDir() +
                             testing::UnitTest::GetInstance()->current_test_info()->name() +
                             ".tsdb";
};

}  // namespace

TEST_F(Tools, CreatorMakesACleanDatabaseAndRefusesToOverwrite) {
    // Options go anywhere, as "--name value" or "--name=value".
    const Outcome made = run_command(std::string(TSDB_MKDB) + " --block-size 2048 " + path +
                                     " --chains=2 --size 1M");
    ASSERT_EQ(made.status, 0) << made.output;
    EXPECT_EQ(made.output,
              "created " + path + ": 512 blocks of 2048 bytes (1 MiB), 2 copies of each chain\n");

    const Outcome again = run_command(std::string(TSDB_MKDB) + " " + path);
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.output, "tsdb-mkdb: Cannot create " + path + ": File exists\n");
    EXPECT_EQ(run_command(std::string(TSDB_MKDB) + " --force " + path).status, 0);
    {
        // A file a process holds is not replaced, and not damaged by the attempt.
        tsdb::Database held = tsdb::Database::open(path);
        const Outcome busy = run_command(std::string(TSDB_MKDB) + " --force " + path);
        EXPECT_EQ(busy.status, 1);
        EXPECT_EQ(busy.output.rfind("tsdb-mkdb: Cannot create " + path +
                                        ": held by a database process; stop it first (list, ",
                                    0),
                  0u)
            << busy.output;
    }
    EXPECT_EQ(run_command(inspect("check " + path)).status, 0);

    const Outcome bad = run_command(std::string(TSDB_MKDB) + " --block-size 3000 " + path);
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(bad.output.starts_with("tsdb-mkdb: --block-size must be a multiple of 1024\n"));
    // Sizes are bytes: 7 bytes hold no block, and too few blocks hold no database.
    EXPECT_EQ(run_command(std::string(TSDB_MKDB) + " --size 7 " + path).status, 2);
    EXPECT_EQ(run_command(std::string(TSDB_MKDB) + " --blocks 7 --force " + path).status, 1);
    EXPECT_EQ(run_command(std::string(TSDB_MKDB) + " --size 1M --blocks 7 " + path).status, 2);

    const Outcome check = run_command(inspect("check " + path + " --format=json"));
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.output,
              "{\"problems\":0,\"details\":[],\"crash states\":0,\"crash state details\":[]}\n");
    const Outcome header = run_command(inspect("header " + path));
    EXPECT_NE(header.output.find("block size: 4096"), std::string::npos) << header.output;
}

TEST_F(Tools, InspectorReportsDamageAndLeavesTheFileAlone) {
    tsdb::create_database({path, 1024, 3, 256, false});
    {
        tsdb::Database db = tsdb::Database::open(path);
        db.allocate_described_ts({1, {{100, 60}, {10, 3600}}});
        // Damage: the series' coarse level also claims the header block.
        const uint32_t finest = db.chain(tsdb::ChainKind::check).check_entry(0).first_lblock;
        const uint32_t coarse = db.chain(tsdb::ChainKind::lblock).lblock_entry(finest).next;
        db.chain(tsdb::ChainKind::lblock).set_lblock_entry(coarse, {0, 1, 0, 3600});
        db.chain(tsdb::ChainKind::lblock).set_lblock_entry(coarse + 5, {250, 30, 0, 60});
        db.phase_shift_all();
        // While the database is open, the inspector reads its last commit.
        const Outcome live = run_command(inspect("check " + path));
        EXPECT_EQ(live.status, 1);
        EXPECT_NE(live.output.find("refers to unallocated lblock"), std::string::npos)
            << live.output;
    }
    const Outcome series = run_command(inspect("series " + path));
    EXPECT_NE(series.output.find("series 0"), std::string::npos) << series.output;
    const Outcome check = run_command(inspect("check " + path));
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.output.find("refers to unallocated lblock"), std::string::npos) << check.output;
    EXPECT_EQ(run_command(inspect("frobnicate " + path)).status, 2);
    EXPECT_EQ(run_command(inspect("check " + path + " --format yaml")).status, 2);
}

TEST_F(Tools, InspectorTellsWhatACrashLeftFromDamageAndTheOpenCompletesIt) {
    tsdb::create_database({path, 1024, 3, 256, false});
    const tsdb::time_series_layout_t layout{1, {{100, 60}, {10, 3600}}};
    {
        tsdb::Database db = tsdb::Database::open(path);
        const uint32_t deleted = db.allocate_described_ts(layout);
        db.allocate_described_ts(layout);
        // A deletion whose levels' release was committed but not the series'
        // (the crash came between the two), and a creation whose levels were
        // committed but not its series.
        db.release_lblock_list(db.series(deleted).first_lblock);
        db.allocate_levels(layout);
        db.phase_shift_all();
    }
    const Outcome crashed = run_command(inspect("check " + path));
    EXPECT_EQ(crashed.status, 0) << crashed.output;
    EXPECT_NE(crashed.output.find("problems: 0"), std::string::npos) << crashed.output;
    EXPECT_NE(crashed.output.find("check id 0 lies on released levels (a deletion a crash "
                                  "interrupted): the next open removes the series"),
              std::string::npos)
        << crashed.output;
    EXPECT_NE(crashed.output.find("the next open releases its 1 blocks"), std::string::npos)
        << crashed.output;
    const auto in_use = [&] {
        return tsdb::Database::inspect(
                   tsdb::BackingStore::open_backing_store(path, platform::Access::read_only))
            .allocation()
            .allocated_count();
    };
    const uint32_t allocated_at_crash = in_use();
    {
        tsdb::Database db = tsdb::Database::open(path);
        EXPECT_FALSE(db.check_id_exists(0));
        EXPECT_TRUE(db.check_id_exists(1));
    }
    const Outcome opened = run_command(inspect("check " + path));
    EXPECT_EQ(opened.status, 0);
    EXPECT_NE(opened.output.find("crash states: 0"), std::string::npos) << opened.output;
    // The orphaned levels' 3 + 1 blocks are free again.
    EXPECT_EQ(in_use(), allocated_at_crash - 4);
}
