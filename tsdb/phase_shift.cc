// Committing the pointer chains: every dirty copy in use is written whole and
// flushed before its descriptor gets a new generation, so that the copy an
// open chooses is always complete. Then each committed kind moves on to its
// next copy.
#include <cmath>
#include <string>

#include "log/storage_log.h"
#include "meter/metric.h"
#include "tsdb/database.h"
#include "util/time_value.h"

namespace tsdb {

namespace {

using logging::Verbosity;

meter::Group low_metrics(nullptr, "low");
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
    last_attempt_ = started.seconds();

    bool dirty[4] = {};
    bool any = false;
    for (ChainKind kind : commit_order) {
        dirty[index(kind)] = chain(kind).dirty();
        any = any || dirty[index(kind)];
    }
    for (ChainKind kind : commit_order) {
        if (dirty[index(kind)]) {
            chain(kind).write_all(store_);
        }
    }
    if (!any) {
        logging::storage_log(Verbosity::verbose, "Phase shift of all chains avoided");
        return;
    }
    store_.sync_writes();
    if (dirty[index(ChainKind::lblock)]) {
        commit(ChainKind::lblock);
        store_.sync_writes();
    }
    // Heads and tails land in one write of block 0: an aggregation's moved
    // head must never become durable without the tail of the level that
    // received its entries.
    if (dirty[index(ChainKind::head)]) {
        new_generation(ChainKind::head);
        last_committed_head_ = in_use_[index(ChainKind::head)];
    }
    if (dirty[index(ChainKind::tail)]) {
        new_generation(ChainKind::tail);
    }
    if (dirty[index(ChainKind::head)] || dirty[index(ChainKind::tail)]) {
        header_.write(store_);
        store_.sync_writes();
    }
    if (dirty[index(ChainKind::check)]) {
        commit(ChainKind::check);
        store_.sync_writes();
    }
    for (ChainKind kind : commit_order) {
        if (dirty[index(kind)]) {
            shift(kind);
        }
    }
    phase_shifts.increment();
    phase_shift_time.record(rounded_milliseconds(util::TimeValue::now() - started));
}

void Database::commit(ChainKind kind) {
    new_generation(kind);
    header_.write(store_);
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
