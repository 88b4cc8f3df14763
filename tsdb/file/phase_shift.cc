// Committing the pointer chains: every dirty copy in use is written whole and
// flushed before its descriptor gets a new generation, so that the copy an
// open chooses is always complete. Then each committed kind moves on to its
// next copy.
#include <algorithm>
#include <cmath>
#include <string>

#include "log/storage_log.h"
#include "meter/metric.h"
#include "meter/process_groups.h"
#include "tsdb/error.h"
#include "tsdb/file/database.h"
#include "util/time_value.h"

namespace tsdb {

namespace {

using logging::Verbosity;

meter::Group& low_metrics = meter::process_groups().low;
meter::IntegerCounter phase_shifts(&low_metrics, "phase_shifts", "Number of phase shifts");
meter::MilliSecondTiming phase_shift_time(&low_metrics, "phase_shift_time",
                                          "Time a phase shift takes");

// The commit order: levels first, the series that point at them last.
constexpr ChainKind commit_order[] = {ChainKind::lblock, ChainKind::head, ChainKind::tail,
                                      ChainKind::check};

uint64_t rounded_milliseconds(const util::TimeValue& span) {
    return static_cast<uint64_t>(span.seconds()) * 1000 +
           static_cast<uint64_t>(std::lround(span.microseconds() / 1000.0));
}

}  // namespace

void Database::phase_shift_all() {
    const util::TimeValue started = util::TimeValue::now();
    last_attempt_ = clock_();
    shift_committed_kinds();

    std::array<bool, 4> dirty{};
    for (ChainKind kind : commit_order) {
        dirty[index(kind)] = chain(kind).dirty();
    }
    if (std::none_of(dirty.begin(), dirty.end(), [](bool d) { return d; })) {
        logging::storage_log(Verbosity::verbose, "Phase shift of all chains avoided");
        reuse_released_space();
        return;
    }
    commit_dirty(dirty);
    shift_committed_kinds();
    reuse_released_space();
    phase_shifts.increment();
    phase_shift_time.record(rounded_milliseconds(util::TimeValue::now() - started));
}

void Database::commit_dirty(std::array<bool, 4> pending) {
    try {
        if (header_unsure_) {
            // Block 0 must name no copy that is about to be rewritten in place.
            header_.write(store_);
            store_.sync_writes();
            header_unsure_ = false;
        }
        for (ChainKind kind : commit_order) {
            if (pending[index(kind)]) {
                chain(kind).write_stale(store_);
            }
        }
        store_.sync_writes();
        commit_synced(pending, {ChainKind::lblock});
        // Heads and tails land in one write of block 0: an aggregation's
        // moved head must never become durable without the tail of the level
        // that received its entries.
        commit_synced(pending, {ChainKind::head, ChainKind::tail});
        commit_synced(pending, {ChainKind::check});
    } catch (const error_generic&) {
        for (ChainKind kind : commit_order) {
            if (pending[index(kind)]) {
                chain(kind).mark_unwritten();
            }
        }
        throw;
    }
}

void Database::commit_synced(std::array<bool, 4>& pending, std::initializer_list<ChainKind> kinds) {
    const Header before = header_;
    bool any = false;
    for (ChainKind kind : kinds) {
        if (pending[index(kind)]) {
            new_generation(kind);
            any = true;
        }
    }
    if (!any) {
        return;
    }
    try {
        header_.write(store_);
        store_.sync_writes();
    } catch (const error_generic&) {
        header_ = before;
        header_unsure_ = true;
        throw;
    }
    for (ChainKind kind : kinds) {
        if (!pending[index(kind)]) {
            continue;
        }
        pending[index(kind)] = false;
        chain(kind).mark_clean();
        shift_owed_[index(kind)] = true;
        if (kind == ChainKind::head) {
            last_committed_head_ = in_use_[index(ChainKind::head)];
            published_beyond_.clear();
        }
    }
}

void Database::shift_committed_kinds() {
    for (ChainKind kind : commit_order) {
        if (shift_owed_[index(kind)]) {
            shift(kind);
            shift_owed_[index(kind)] = false;
        }
    }
}

void Database::reuse_released_space() {
    for (const auto& [first, n] : released_blocks_) {
        map_.release(first, n);
    }
    released_blocks_.clear();
    released_lblocks_.clear();
}

void Database::new_generation(ChainKind kind) {
    const uint32_t copy = in_use_[index(kind)];
    const uint64_t generation = header_.generation(kind, copy) + 1;
    header_.commit_descriptor(kind, copy, generation, chain(kind).first_dblock());
    if (logging::storage_logs(Verbosity::debug)) {
        logging::storage_log(Verbosity::debug,
                             "New timestamp for chain " + std::to_string(copy) + " in block 0 is " +
                                 std::to_string(generation) + " (re-read: " +
                                 std::to_string(header_.generation(kind, copy)) + ")");
    }
}

void Database::shift(ChainKind kind) {
    const uint32_t c = in_use_[index(kind)];
    const uint32_t n = (c + 1) % header_.copies();
    PointerChain& from = copies_of(kind)[c];
    PointerChain& to = copies_of(kind)[n];
    if (to.capacity() < from.capacity()) {
        logging::storage_log(Verbosity::verbose, "Allocating extra blocks needed to copy chain " +
                                                     std::to_string(c) + " into chain " +
                                                     std::to_string(n));
        const uint32_t missing = from.capacity() - to.capacity();
        to.grow(store_, map_, (missing + to.entries_per_block() - 1) / to.entries_per_block());
    }
    to.copy_entries_from(from);
    header_.set_generation(kind, n, header_.generation(kind, c));
    logging::storage_log(Verbosity::verbose,
                         "Phase shift from " + std::string(chain_kind_info(kind).name) + " chain " +
                             std::to_string(c) + " to chain " + std::to_string(n) + " complete!");
    in_use_[index(kind)] = n;
}

}  // namespace tsdb
