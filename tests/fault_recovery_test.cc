// The engine after a failure: one write or one flush fails, the engine goes
// on as the process would (later requests, timed phase shifts, the shutdown
// steps), and the file it leaves must hold everything that was
// acknowledged, with every failed request wholly done or wholly undone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <map>
#include <set>
#include <string>

#include "tests/support/metrics.h"
#include "tests/support/sim_database.h"
#include "tsdb/engine.h"
#include "tsdb/file/consistency_check.h"
#include "tsdb/patch.h"
#include "tsdb/storage_type.h"
#include "util/bytes.h"

using namespace testing_support;
using tsdb::Engine;
using tsdb::record_t;
using tsdb::time_series_layout_t;

namespace {

constexpr uint32_t t0 = 1700000000;
constexpr int64_t all_time = int64_t{1} << 40;

uint32_t minute_at(uint32_t m) { return t0 + m * 60; }

template <uint32_t T>
std::string patch_of(const std::vector<record_t<T>>& records) {
    std::string patch = tsdb::empty_patch(T);
    for (const record_t<T>& r : records) {
        tsdb::append_record(patch, r);
    }
    return patch;
}

// What the workload was told, request by request.
struct Model {
    std::map<std::string, uint32_t> ids;
    std::set<uint32_t> live;
    std::map<std::string, uint64_t> acknowledged;  // samples per series
    std::map<std::string, uint64_t> unsure;        // samples whose request failed
    std::map<std::string, bool> rewritten;         // its rebuild, merge or truncation succeeded
    uint32_t enum_mask = 0;
    std::string failures;  // what failed, for the test's messages
};

template <uint32_t T>
uint64_t samples_in(Engine& engine, uint32_t id) {
    uint64_t n = 0;
    for (const record_t<T>& r : engine.get<T>(id, 0, all_time)) {
        if constexpr (T == tsdb::type_incident) {
            ++n;
        } else {
            n += r.ngood;
        }
    }
    return n;
}

// Every record of every series in a reopened image is one a writer made.
template <uint32_t T>
bool holds_only_valid_records(Engine& engine, uint32_t id) {
    const std::vector<record_t<T>> records = engine.get<T>(id, 0, all_time);
    return std::all_of(records.begin(), records.end(),
                       [](const record_t<T>& r) { return tsdb::is_valid(r); });
}

// The series that only ever take appends: a crash image never holds fewer of
// their samples than an earlier one.
constexpr const char* append_only[] = {"cont", "enum", "mono", "incident"};

// What a kill right after a request would leave, checked against the model:
// consistent, every series the model holds is there with valid records, and
// the append-only series keep what the image before the failure held.
class CrashImages {
public:
    // Requests after the first failure whose images are checked.
    static constexpr int window = 40;

    explicit CrashImages(const SimDisk& disk) : disk_(disk) {}

    void before_request(const Model& model) {
        if (model.failures.empty()) {
            before_failure_ = disk_.current();
        }
    }

    void after_request(const Model& model) {
        if (model.failures.empty() || checked_ == window) {
            return;
        }
        if (checked_++ == 0) {
            baseline_ = append_only_samples(before_failure_, model);
        }
        const std::map<std::string, uint64_t> now = append_only_samples(disk_.current(), model);
        for (const auto& [name, samples] : baseline_) {
            EXPECT_GE(now.at(name), samples)
                << "a crash image " << checked_ << " requests after the failure has lost " << name
                << "'s samples; failed:" << model.failures;
        }
    }

private:
    std::map<std::string, uint64_t> append_only_samples(const std::vector<uint8_t>& image,
                                                        const Model& model) {
        SimDisk disk(image);
        // Looked at as it lies, before an open repairs anything.
        const std::vector<std::string> problems =
            tsdb::find_problems(tsdb::Database::inspect(store_on(disk)));
        EXPECT_TRUE(problems.empty()) << "crash image: " << problems.front();
        Engine engine(open_on(disk));
        for (uint32_t id : model.live) {
            EXPECT_TRUE(engine.series_exists(id)) << "crash image lost series " << id;
            if (engine.series_exists(id)) {
                EXPECT_TRUE(tsdb::by_type(
                    engine.data_type(id),
                    [&]<uint32_t T>() { return holds_only_valid_records<T>(engine, id); }))
                    << "crash image: series " << id
                    << " holds records nobody wrote; failed:" << model.failures;
            }
        }
        std::map<std::string, uint64_t> samples;
        for (const char* name : append_only) {
            if (model.ids.contains(name)) {
                samples[name] = tsdb::by_type(
                    engine.data_type(model.ids.at(name)),
                    [&]<uint32_t T>() { return samples_in<T>(engine, model.ids.at(name)); });
            }
        }
        return samples;
    }

    const SimDisk& disk_;
    std::vector<uint8_t> before_failure_;
    std::map<std::string, uint64_t> baseline_;
    int checked_ = 0;
};

// Creations that grow the file and the chains, writes that aggregate, a
// deletion and a creation in one commit window, a rebuild, a recovery
// merge, a truncation and timed phase shifts; then the shutdown steps.
class Workload {
public:
    // Short buffers: a full one must wait for a phase shift to place a record.
    // `images`, when given, checks what a kill after each request would leave.
    explicit Workload(Engine& engine, CrashImages* images = nullptr)
        : engine_(engine), images_(images) {
        engine_.configure({4, 2, 600, 8});
    }

    Model run() {
        create("cont", {1, {{30, 60}, {30, 600}, {3000, 3600}}});
        create("enum", {2, {{30, 60}, {3000, 600}}});
        create("mono", {3, {{30, 60}, {3000, 600}}});
        create("incident", {4, {{20000, 1}}});
        create("rebuilt", {1, {{100, 60}, {100, 600}}});
        create("merged", {2, {{100, 60}, {100, 600}}});
        create("truncated", {1, {{100, 60}}});
        create("deleted", {2, {{50, 60}}});
        for (uint32_t m = 0; m < 200; ++m) {
            minute(m);
        }
        shut_down();
        return model_;
    }

private:
    void minute(uint32_t m) {
        const auto v = static_cast<float>(m % 13);
        put<1>("cont", {minute_at(m), 60, 1, 0, v, v, v});
        model_.enum_mask |= 1u << (m % 5);
        put<2>("enum", {minute_at(m), 60, 1, 0, 1u << (m % 5)});
        const auto total = static_cast<float>(m * 2);
        put<3>("mono", {minute_at(m), 60, 1, 0, total, total, total});
        if (m % 7 == 0) {
            put<4>("incident", {minute_at(m), 1, m % 3, std::string(m % 23, 'i')});
        }
        if (m < 10) {
            for (const char* name : {"rebuilt", "truncated"}) {
                put<1>(name, {minute_at(m), 60, 1, 0, v, v, v});
            }
            put<2>("merged", {minute_at(m), 60, 1, 0, 1});
            put<2>("deleted", {minute_at(m), 60, 1, 0, 1});
        }
        if (m >= 60 && m < 130) {
            create("small " + std::to_string(m), {2, {{10, 60}}});
        }
        if (m == 60) {
            attempt([&] {
                engine_.delete_series(model_.ids.at("deleted"));
                model_.live.erase(model_.ids.at("deleted"));
            });
            create("after delete", {2, {{50, 60}}});
        }
        if (m == 100) {
            recover();
        }
        if (m == 150) {
            create("large", {1, {{3000, 60}}});
        }
        if (m % 30 == 29) {
            attempt([&] { engine_.phase_shift(); });
        }
    }

    void recover() {
        rewrite("rebuilt", [&](uint32_t id) {
            engine_.rebuild<1>(
                id, {{minute_at(3), 60, 5, 0, 1, 3, 2}, {minute_at(20), 120, 2, 0, 4, 4, 4}});
        });
        rewrite("merged", [&](uint32_t id) {
            const std::vector<record_t<2>> other = {{minute_at(5), 60, 1, 0, 4},
                                                    {minute_at(30), 60, 1, 0, 8}};
            engine_.merge(id, {engine_.extract(id), patch_of<2>(other)});
        });
        rewrite("truncated", [&](uint32_t id) { engine_.truncate<1>(id, minute_at(5)); });
    }

    void shut_down() {
        for (int attempt = 0; attempt < 3; ++attempt) {
            try {
                engine_.flush_all();
                engine_.phase_shift();
                return;
            } catch (const tsdb::error_generic&) {
            }
        }
    }

    template <typename Action>
    bool attempt(Action&& action) {
        if (images_ != nullptr) {
            images_->before_request(model_);
        }
        bool done = true;
        try {
            action();
        } catch (const tsdb::error_generic& e) {
            model_.failures += " [" + e.text() + "]";
            done = false;
        }
        if (images_ != nullptr) {
            images_->after_request(model_);
        }
        return done;
    }

    // A client whose creation failed tries once more.
    void create(const std::string& name, const time_series_layout_t& layout) {
        for (int attempts = 0; attempts < 2 && !model_.ids.contains(name); ++attempts) {
            create_once(name, layout);
        }
    }

    void create_once(const std::string& name, const time_series_layout_t& layout) {
        attempt([&] {
            const uint32_t id = engine_.create_series(layout);
            ASSERT_TRUE(model_.live.insert(id).second) << "id " << id << " handed out twice";
            model_.ids[name] = id;
        });
    }

    template <uint32_t T>
    void put(const std::string& name, const record_t<T>& record) {
        if (!model_.ids.contains(name)) {
            return;
        }
        const bool done = attempt([&] { engine_.put<T>(model_.ids.at(name), record); });
        ++(done ? model_.acknowledged : model_.unsure)[name];
    }

    template <typename Action>
    void rewrite(const std::string& name, Action&& action) {
        if (model_.ids.contains(name)) {
            model_.rewritten[name] = attempt([&] { action(model_.ids.at(name)); });
        }
    }

    Engine& engine_;
    CrashImages* images_;
    Model model_;
};

// The contents of the series that a rebuild, a merge or a truncation
// replaces, before and after, from a run without faults.
struct Reference {
    int64_t first_write = 0;
    int64_t last_write = 0;
    int64_t first_sync = 0;
    int64_t last_sync = 0;
    std::map<std::string, std::vector<record_t<1>>> continuous_after;
    std::vector<record_t<2>> merged_after;
};

Reference reference_run(const SimDisk& fresh) {
    SimDisk disk = fresh;
    Reference ref;
    Engine engine(open_on(disk));
    ref.first_write = disk.writes();
    ref.first_sync = disk.syncs();
    const uint64_t forced = counter("entrycache", "buffer_filled_block");
    const Model model = Workload(engine).run();
    // Buffers that must wait for a commit: a failure there once made the engine spin.
    EXPECT_GT(counter("entrycache", "buffer_filled_block"), forced);
    ref.last_write = disk.writes();
    ref.last_sync = disk.syncs();
    for (const char* name : {"rebuilt", "truncated"}) {
        ref.continuous_after[name] = engine.get<1>(model.ids.at(name), 0, all_time);
    }
    ref.merged_after = engine.get<2>(model.ids.at("merged"), 0, all_time);
    return ref;
}

// The reopened file against what the workload was told.
void expect_holds(const std::vector<uint8_t>& image, const Model& model, const Reference& ref,
                  const std::string& test) {
    const std::string what = test + ", failed:" + model.failures;
    SimDisk disk(image);
    Engine engine(open_on(disk));
    const std::vector<std::string> problems = engine.problems();
    ASSERT_TRUE(problems.empty()) << what << ": " << problems.front();
    uint32_t series = 0;
    for (uint32_t id = 0; id < engine.check_capacity(); ++id) {
        series += engine.series_exists(id) ? 1 : 0;
    }
    for (uint32_t id : model.live) {
        ASSERT_TRUE(engine.series_exists(id)) << what << ": series " << id << " lost";
    }
    ASSERT_EQ(series, model.live.size()) << what << ": a failed creation or deletion half done";
    const auto count = [&](const std::string& name, auto samples) {
        const uint64_t stored = samples(model.ids.at(name));
        const uint64_t sent = model.acknowledged.at(name);
        const uint64_t unsure = model.unsure.contains(name) ? model.unsure.at(name) : 0;
        EXPECT_TRUE(stored >= sent && stored <= sent + unsure)
            << what << ": " << name << " holds " << stored << " samples of " << sent
            << " acknowledged and " << unsure << " failed";
    };
    count("cont", [&](uint32_t id) { return samples_in<1>(engine, id); });
    count("enum", [&](uint32_t id) { return samples_in<2>(engine, id); });
    count("mono", [&](uint32_t id) { return samples_in<3>(engine, id); });
    count("incident", [&](uint32_t id) { return samples_in<4>(engine, id); });
    uint32_t mask = 0;
    for (const record_t<2>& r : engine.get<2>(model.ids.at("enum"), 0, all_time)) {
        mask |= r.mask;
    }
    EXPECT_EQ(mask, model.enum_mask) << what;
    for (const char* name : {"rebuilt", "truncated"}) {
        if (model.rewritten.at(name) && !model.unsure.contains(name)) {
            EXPECT_EQ(engine.get<1>(model.ids.at(name), 0, all_time), ref.continuous_after.at(name))
                << what << ": " << name;
        }
    }
    if (model.rewritten.at("merged") && !model.unsure.contains("merged")) {
        EXPECT_EQ(engine.get<2>(model.ids.at("merged"), 0, all_time), ref.merged_after) << what;
    }
}

// Every index in the long runs (make torture), every few in the quick one.
int64_t stride(int64_t quick) { return std::getenv("TSDB_TORTURE") != nullptr ? 1 : quick; }

class FaultRecovery : public ::testing::Test {
protected:
    SimDisk fresh = formatted_disk(small_database(40));
    Reference ref = reference_run(fresh);

    void fail_and_carry_on(FaultPlan plan, const std::string& what) {
        SimDisk disk = fresh;
        Model model;
        {
            Engine engine(open_on(disk, plan));
            CrashImages images(disk);
            model = Workload(engine, &images).run();
        }
        for (const char* name :
             {"cont", "enum", "mono", "incident", "rebuilt", "merged", "truncated"}) {
            ASSERT_TRUE(model.ids.contains(name)) << what << ": " << name << " never made";
        }
        expect_holds(disk.current(), model, ref, what);
        ASSERT_EQ(disk.current(), disk.durable()) << what << ": the shutdown left unsynced writes";
        ++faults;
    }
    void TearDown() override {
        std::cout << "faults injected and recovered from: " << faults << "\n";
    }
    int faults = 0;
};

}  // namespace

TEST_F(FaultRecovery, AFailedWriteLosesNothingAcknowledgedOnceTheEngineGoesOn) {
    ASSERT_GT(ref.last_write - ref.first_write, 300);
    for (int error : {EIO, ENOSPC}) {
        for (int64_t k = ref.first_write + (error == EIO ? 0 : 3); k < ref.last_write;
             k += stride(7)) {
            FaultPlan plan;
            plan.fail_write = k;
            plan.write_errno = error;
            fail_and_carry_on(plan, "write " + std::to_string(k) + " failing with errno " +
                                        std::to_string(error));
        }
    }
}

TEST_F(FaultRecovery, AFailedFlushLosesNothingAcknowledgedOnceTheEngineGoesOn) {
    for (int64_t k = ref.first_sync; k < ref.last_sync; k += stride(3)) {
        FaultPlan plan;
        plan.fail_sync = k;
        plan.sync_errno = EIO;
        fail_and_carry_on(plan, "flush " + std::to_string(k) + " failing");
    }
}
