// Crashes and faults at every write of two workloads: catalogue changes with
// phase shifts, and samples fed through the write buffer. After each, the
// database must open, be consistent, and hold either the state of the last
// completed commit or of the next one.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>

#include "tests/support/metrics.h"
#include "tests/support/sim_database.h"
#include "tsdb/engine.h"
#include "tsdb/error.h"
#include "tsdb/extraction.h"
#include "tsdb/file/consistency_check.h"
#include "tsdb/level_insert.h"
#include "tsdb/patch.h"
#include "tsdb/recovery.h"
#include "tsdb/storage_type.h"
#include "tsdb/write_buffer.h"
#include "util/bytes.h"

using namespace testing_support;
using tsdb::ChainKind;
using tsdb::Database;

namespace {

// Every series with its levels, ring positions and ring contents.
std::string state_of(Database& db) {
    std::ostringstream out;
    const tsdb::PointerChain& checks = db.chain(ChainKind::check);
    for (uint32_t id = 0; id < checks.capacity(); ++id) {
        if (!db.check_id_exists(id)) {
            continue;
        }
        out << "series " << id << " type " << checks.check_entry(id).data_type << ":";
        for (uint32_t l = checks.check_entry(id).first_lblock; l != 0;) {
            const tsdb::lblock_entry_t e = db.chain(ChainKind::lblock).lblock_entry(l);
            const uint32_t size = e.dblocks * db.block_size();
            const uint32_t head = db.committed_head(l);
            const uint32_t tail = db.chain(ChainKind::tail).position(l);
            std::vector<uint8_t> contents((tail + size - head) % size);
            db.read_from_lblock(e, head, contents);
            out << " [" << e.dblocks << "x" << e.resolution << " " << head << ".." << tail << " ";
            for (uint8_t b : contents) {
                out << static_cast<char>('a' + b % 26);
            }
            out << "]";
            l = e.next;
        }
        out << "\n";
    }
    return out.str();
}

std::vector<uint8_t> bytes(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return v;
}

void append(Database& db, uint32_t id, size_t n, uint8_t seed) {
    const uint32_t l = db.chain(ChainKind::check).check_entry(id).first_lblock;
    const std::vector<uint8_t> v = bytes(n, seed);
    ASSERT_TRUE(db.write_to_lblock(l, v));
}

// Each step ends with its changes committed, and commits nothing before,
// or changes memory only (a deletion).
using Step = std::function<void(Database&)>;
using Workload = std::vector<Step> (*)();

std::vector<Step> catalogue_workload() {
    std::vector<Step> steps = {
        [](Database& db) {
            db.allocate_described_ts({1, {{100, 60}, {20, 300}}});
        },
        [](Database& db) {
            append(db, 0, 140, 1);
            db.phase_shift_all();
        },
        [](Database& db) {
            db.allocate_described_ts({2, {{50, 60}}});
        },
        [](Database& db) {
            db.deallocate_check_id(0);
            db.phase_shift_all();
        },
        [](Database& db) {
            db.allocate_described_ts({4, {{2000, 60}, {500, 600}}});
        },
        [](Database& db) {
            append(db, 0, 700, 3);
            db.phase_shift_all();
        },
    };
    for (int i = 0; i < 70; ++i) {  // grows the LBlock chain past one block
        steps.push_back([](Database& db) { db.allocate_described_ts({2, {{10, 60}}}); });
    }
    steps.push_back([](Database& db) {
        db.allocate_described_ts({1, {{9000, 60}}});
    });                                 // grows the file
    steps.push_back([](Database& db) {  // a head and a tail move in one shift
        const uint32_t level = db.chain(ChainKind::check).check_entry(0).first_lblock;
        db.chain(ChainKind::head).set_position(level, 200);
        append(db, 0, 600, 5);
        db.phase_shift_all();
    });
    return steps;
}

void feed(tsdb::WriteBuffer& buffer, const std::vector<uint32_t>& ids, uint32_t minute) {
    const uint32_t t = 1000000 + minute * 60;
    const auto v = static_cast<float>(minute % 17);
    buffer.insert<1>(ids[0], {t, 60, 1, 0, v, v, v});
    buffer.insert<2>(ids[1], {t, 60, 1, 0, 1u << (minute % 5)});
    const auto total = static_cast<float>(minute * 3);
    buffer.insert<3>(ids[2], {t, 60, 1, 0, total, total, total});
    buffer.insert<4>(ids[3], {t, 60, minute % 3, std::string(minute % 11, 'x')});
}

// Every data type through the write buffer, with levels small enough that
// batches aggregate and rings wrap; one allocation or one batch per step.
std::vector<Step> buffered_workload() {
    auto buffer = std::make_shared<std::unique_ptr<tsdb::WriteBuffer>>();
    auto ids = std::make_shared<std::vector<uint32_t>>();
    std::vector<Step> steps;
    for (const tsdb::time_series_layout_t& layout :
         std::vector<tsdb::time_series_layout_t>{{1, {{40, 60}, {20, 300}, {10, 3600}}},
                                                 {2, {{60, 60}, {30, 600}}},
                                                 {3, {{40, 60}, {20, 300}}},
                                                 {4, {{900, 60}, {400, 600}}}}) {
        steps.push_back([=](Database& db) {
            if (!*buffer) {
                *buffer = std::make_unique<tsdb::WriteBuffer>(db);
            }
            ids->push_back(db.allocate_described_ts(layout));
        });
    }
    for (uint32_t batch = 0; batch < 14; ++batch) {
        steps.push_back([=](Database& db) {
            for (uint32_t m = batch * 10; m < batch * 10 + 10; ++m) {
                feed(**buffer, *ids, m);
            }
            db.phase_shift_all();
        });
    }
    return steps;
}

// The buffered workload, then truncation, a recovery merge and a move to
// other levels (which rebuild the series' levels and commit the switch
// themselves) and a deletion.
std::vector<Step> mixed_workload() {
    std::vector<Step> steps = buffered_workload();
    auto buffer = std::make_shared<std::unique_ptr<tsdb::WriteBuffer>>();
    const auto with_buffer = [buffer](Database& db) -> tsdb::WriteBuffer& {
        if (!*buffer) {
            *buffer = std::make_unique<tsdb::WriteBuffer>(db);
        }
        return **buffer;
    };
    steps.push_back([=](Database& db) {
        tsdb::truncate_old_data<1>(db, with_buffer(db), 0, 1000000 + 40 * 60);
        db.phase_shift_all();
    });
    steps.push_back([=](Database& db) {
        tsdb::WriteBuffer& b = with_buffer(db);
        const std::string patch = tsdb::recovery_extract<3>(db, b, 2);
        tsdb::recovery_merge<3>(db, b, 2, {patch, patch});
        db.phase_shift_all();
    });
    steps.push_back([=](Database& db) {
        tsdb::recovery_relayout<1>(db, with_buffer(db), 0, {{20, 60}, {8, 300}});
        db.phase_shift_all();
    });
    steps.push_back([](Database& db) {
        db.deallocate_check_id(1);
        db.phase_shift_all();
    });
    return steps;
}

// Records of a continuous or an enum series, a second apart from `start`.
void insert_records(Database& db, uint32_t id, uint32_t type, uint32_t start, uint32_t n,
                    uint32_t duration) {
    for (uint32_t t = start; t < start + n; ++t) {
        if (type == 1) {
            ASSERT_TRUE(tsdb::insert_into_series<1>(db, id, {t, duration, 1, 0, 1, 1, 1}));
        } else {
            ASSERT_TRUE(tsdb::insert_into_series<2>(db, id, {t, duration, 1, 0, 2}));
        }
    }
}

// A series of two levels made, then records written and committed.
void add_series_with_records(std::vector<Step>& steps, uint32_t type,
                             const tsdb::time_series_layout_t& layout) {
    auto id = std::make_shared<uint32_t>();
    steps.push_back([=](Database& db) { *id = db.allocate_described_ts(layout); });
    steps.push_back([=](Database& db) {
        insert_records(db, *id, type, 1000000 + *id * 1000, 30, 1);
        db.phase_shift_all();
    });
}

void add_series_with_records(std::vector<Step>& steps, uint32_t type) {
    add_series_with_records(steps, type, {type, {{40, 60}, {40, 600}}});
}

// Deletion and another change that commits, in one commit window.
template <typename Change>
std::vector<Step> delete_then(Change change) {
    std::vector<Step> steps;
    add_series_with_records(steps, 1);
    add_series_with_records(steps, 1);
    add_series_with_records(steps, 2);
    steps.push_back([](Database& db) { db.deallocate_check_id(0); });
    steps.push_back(change);
    return steps;
}

std::vector<Step> delete_then_create() {
    return delete_then([](Database& db) { db.allocate_described_ts({1, {{40, 60}, {40, 600}}}); });
}

std::vector<Step> delete_then_merge() {
    return delete_then([](Database& db) {
        tsdb::WriteBuffer buffer(db);
        tsdb::recovery_merge<1>(db, buffer, 1, {tsdb::recovery_extract<1>(db, buffer, 1)});
    });
}

std::vector<Step> delete_then_rebuild() {
    return delete_then([](Database& db) {
        tsdb::WriteBuffer buffer(db);
        tsdb::recovery_merge_records<2>(db, buffer, 2, {{1000000, 60, 1, 0, 4}});
    });
}

// A new series filled level by level with records as they are, as a restore
// does, then committed.
std::vector<Step> placed_levels() {
    std::vector<Step> steps;
    add_series_with_records(steps, 1);
    auto id = std::make_shared<uint32_t>();
    steps.push_back([=](Database& db) {
        *id = db.allocate_described_ts({1, {{40, 60}, {40, 600}}});
    });
    steps.push_back([=](Database& db) {
        tsdb::WriteBuffer buffer(db);
        const auto patch = [](uint32_t first, uint32_t n, uint32_t length) {
            std::string bytes = tsdb::empty_patch(tsdb::type_continuous);
            for (uint32_t k = 0; k < n; ++k) {
                tsdb::append_record(
                    bytes, tsdb::continuous_record_t{first + k * length, length, 3, 0, 1, 3, 2});
            }
            return bytes;
        };
        tsdb::recovery_place<1>(db, buffer, *id, 1, patch(1000000, 30, 600));
        tsdb::recovery_place<1>(db, buffer, *id, 0, patch(1018000, 30, 60));
        db.phase_shift_all();
    });
    return steps;
}

// Series of older versions with a buffer level of resolution 1, converted
// as the process does at start.
std::vector<Step> start_up_upgrade() {
    std::vector<Step> steps;
    for (uint32_t type : {1u, 2u}) {
        add_series_with_records(steps, type, {type, {{40, 1}, {40, 60}}});
    }
    // Draining commits heads and tails apart from the switch; a step each.
    steps.push_back([](Database& db) {
        tsdb::drain_first_level<1>(db, 0);
        tsdb::drain_first_level<2>(db, 1);
        db.phase_shift_all();
    });
    steps.push_back([](Database& db) { tsdb::drop_first_levels(db, {0, 1}, true); });
    return steps;
}

struct Reference {
    std::vector<int64_t> writes_after;  // the disk's write count after each step
    std::vector<int64_t> syncs_after;
    std::vector<std::string> states;  // states[0] before the first step
};

Reference reference_run(const SimDisk& fresh, Workload workload) {
    SimDisk disk = fresh;
    Database db = open_on(disk);
    Reference ref;
    ref.writes_after.push_back(disk.writes());
    ref.syncs_after.push_back(disk.syncs());
    ref.states.push_back(state_of(db));
    for (const auto& step : workload()) {
        step(db);
        ref.writes_after.push_back(disk.writes());
        ref.syncs_after.push_back(disk.syncs());
        ref.states.push_back(state_of(db));
    }
    return ref;
}

// The index of the last step completed when the event numbered `index`
// happened, given the event counts after each step.
size_t completed_before(const std::vector<int64_t>& counts_after, int64_t index) {
    size_t completed = 0;
    while (completed + 1 < counts_after.size() && counts_after[completed] <= index &&
           counts_after[completed + 1] <= index) {
        ++completed;
    }
    return completed;
}

// Runs the workload until it stops by a crash or a failure.
void run_until_stopped(SimDisk& disk, const FaultPlan& plan, Workload workload) {
    Database db = open_on(disk, plan);
    for (const auto& step : workload()) {
        step(db);
    }
}

struct Scenario {
    // A workload that writes raw bytes into levels leaves nothing to serve.
    explicit Scenario(Workload w, bool serves = true)
        : workload(w), serves(serves), ref(reference_run(fresh, w)) {}
    Workload workload;
    bool serves;
    SimDisk fresh = formatted_disk(small_database(600));
    Reference ref;
};

template <uint32_t T>
tsdb::record_t<T> later_record(uint32_t round) {
    const uint32_t t = 2000000000 + round * 60;
    if constexpr (T == tsdb::type_incident) {
        return {t, 1, 1, "after the restart"};
    } else if constexpr (T == tsdb::type_enum) {
        return {t, 60, 1, 0, 1};
    } else {
        return {t, 60, 1, 0, 1, 1, 1};
    }
}

// Every series answers reads, writes and the oldest record through a few
// rounds of timed duties, as the process serves it after a restart.
void expect_serves(Database db, const std::string& what) {
    tsdb::Engine engine(std::move(db));
    try {
        for (uint32_t round = 0; round < 3; ++round) {
            for (uint32_t id = 0; id < engine.check_capacity(); ++id) {
                if (!engine.series_exists(id)) {
                    continue;
                }
                tsdb::by_type(engine.data_type(id), [&]<uint32_t T>() {
                    engine.get<T>(id, 0, int64_t{1} << 40);
                    engine.put<T>(id, later_record<T>(round));
                    engine.oldest(id);
                });
            }
            engine.age_flush(2000000000 + round * 60 + 3600);
            engine.phase_shift();
        }
        engine.flush_all();
        engine.phase_shift();
    } catch (const error::Exception& e) {
        FAIL() << what << ": after the restart: " << e.text();
    }
    const std::vector<std::string> problems = engine.problems();
    ASSERT_TRUE(problems.empty()) << what << " after serving: " << problems.front();
}

// The image must load as found, open with its repairs into a consistent
// database that serves every request, and hold one of the two allowed states.
void expect_recovers(const std::vector<uint8_t>& image, const Scenario& s, size_t completed,
                     const std::string& what) {
    const Reference& ref = s.ref;
    SimDisk as_found(image);
    const std::string failure =
        failure_text<tsdb::error_generic>([&] { Database::inspect(store_on(as_found)); });
    ASSERT_EQ(failure, "(no failure)") << what;
    SimDisk disk(image);
    Database db = open_on(disk);
    const std::string state = state_of(db);
    // Steps that wrote nothing may have been committed with the next one, or not.
    size_t earliest = completed;
    while (earliest > 0 && ref.writes_after[earliest - 1] == ref.writes_after[earliest]) {
        --earliest;
    }
    bool allowed = completed + 1 < ref.states.size() && state == ref.states[completed + 1];
    for (size_t j = earliest; j <= completed; ++j) {
        allowed = allowed || state == ref.states[j];
    }
    ASSERT_TRUE(allowed) << what << " after step " << completed << " left:\n"
                         << state << "expected:\n"
                         << ref.states[completed];
    const std::vector<std::string> problems = find_problems(db);
    ASSERT_TRUE(problems.empty()) << what << ": " << problems.front();
    if (s.serves) {
        expect_serves(std::move(db), what);
    }
}

// Every index in the long runs (make torture), every third in the quick one.
int64_t stride() { return std::getenv("TSDB_TORTURE") != nullptr ? 1 : 3; }

// What of the crashing write lands, and of the writes since the last flush.
struct CrashMode {
    uint32_t torn_sectors;
    bool unflushed_land;
    const char* name;
};
constexpr CrashMode crash_modes[] = {
    {0, false, "lost"}, {1, true, "torn"}, {FaultPlan::whole_write, true, "whole"}};

void crash_at_every_write(const Scenario& s) {
    const int64_t first = s.ref.writes_after.front();
    const int64_t last = s.ref.writes_after.back();
    ASSERT_GT(last - first, 10);
    int64_t crashes = 0;
    for (int64_t mode = 0; mode < 3; ++mode) {
        const CrashMode& m = crash_modes[mode];
        for (int64_t k = first + mode % stride(); k < last; k += stride()) {
            SimDisk disk = s.fresh;
            FaultPlan plan;
            plan.crash_at_write = k;
            plan.torn_sectors = m.torn_sectors;
            plan.unflushed_seed = m.unflushed_land ? static_cast<uint32_t>(k + 1) : 0;
            EXPECT_THROW(run_until_stopped(disk, plan, s.workload), Crash);
            expect_recovers(disk.durable(), s, completed_before(s.ref.writes_after, k),
                            "crash at write " + std::to_string(k) + ", " + m.name);
            ++crashes;
        }
    }
    std::cout << "crash points checked: " << crashes << " of " << 3 * (last - first) << "\n";
}

// One failed write or flush stops the workload with the store's text; the
// file as it stands and as a crash then would leave it must both recover.
void fail_every_write_and_flush(const Scenario& s) {
    const Reference& ref = s.ref;
    const auto expect_failure_then_recovery = [&](FaultPlan plan, size_t completed,
                                                  const std::string& what) {
        SimDisk disk = s.fresh;
        const std::string text =
            failure_text<tsdb::error_io>([&] { run_until_stopped(disk, plan, s.workload); });
        ASSERT_TRUE(text.starts_with("Cannot seq. write ") ||
                    text.starts_with("Cannot ofs. seq. write ") ||
                    text.starts_with("flush failed with error: "))
            << what << ": " << text;
        expect_recovers(disk.current(), s, completed, what + " (running)");
        expect_recovers(disk.durable(), s, completed, what + " (crashed)");
    };
    for (int error : {ENOSPC, EIO}) {
        for (int64_t k = ref.writes_after.front() + (error == EIO ? 1 : 0);
             k < ref.writes_after.back(); k += stride()) {
            FaultPlan plan;
            plan.fail_write = k;
            plan.write_errno = error;
            expect_failure_then_recovery(
                plan, completed_before(ref.writes_after, k),
                "write " + std::to_string(k) + " failing with " + std::to_string(error));
        }
    }
    for (int64_t k = ref.syncs_after.front(); k < ref.syncs_after.back(); ++k) {
        FaultPlan plan;
        plan.fail_sync = k;
        plan.sync_errno = EIO;
        expect_failure_then_recovery(plan, completed_before(ref.syncs_after, k),
                                     "flush " + std::to_string(k) + " failing");
    }
}

}  // namespace

TEST(CrashConsistency, EveryWriteAsACrashPointWithAndWithoutTearing) {
    crash_at_every_write(Scenario(catalogue_workload, false));
}

TEST(CrashConsistency, EveryWriteOfBufferFlushesAndAggregationAsACrashPoint) {
    const uint64_t blocked = counter("entrycache", "buffer_filled_block");
    const Scenario s(buffered_workload);
    // A blocked buffer would commit inside a step.
    ASSERT_EQ(counter("entrycache", "buffer_filled_block"), blocked);
    ASSERT_EQ(s.ref.states.back().find("[1x300 0..0 ]"), std::string::npos) << "no aggregation";
    crash_at_every_write(s);
}

TEST(CrashConsistency, EveryWriteOfTruncationMergeAndDeletionAsACrashPoint) {
    crash_at_every_write(Scenario(mixed_workload));
}

TEST(CrashConsistency, EveryWriteOfADeletionSharingItsCommitAsACrashPoint) {
    crash_at_every_write(Scenario(delete_then_create));
    crash_at_every_write(Scenario(delete_then_merge));
    crash_at_every_write(Scenario(delete_then_rebuild));
}

TEST(CrashConsistency, EveryWriteOfASeriesFilledLevelByLevelAsACrashPoint) {
    crash_at_every_write(Scenario(placed_levels));
}

TEST(CrashConsistency, EveryWriteOfTheStartUpUpgradeAsACrashPoint) {
    crash_at_every_write(Scenario(start_up_upgrade));
}

TEST(CrashConsistency, FailedWritesAndFlushesAreReportedAndLoseNothingCommitted) {
    fail_every_write_and_flush(Scenario(catalogue_workload, false));
    fail_every_write_and_flush(Scenario(buffered_workload));
    fail_every_write_and_flush(Scenario(mixed_workload));
}
