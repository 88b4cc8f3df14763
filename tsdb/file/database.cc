#include "tsdb/file/database.h"

#include <string>
#include <vector>

#include "log/storage_log.h"
#include "tsdb/error.h"
#include "util/format.h"

namespace tsdb {

namespace {

using logging::Verbosity;

}  // namespace

Database::Database(BackingStore store, util::Clock clock)
    : store_(std::move(store)), clock_(std::move(clock)) {}

Database Database::open(const std::string& path, util::Clock clock) {
    return open(BackingStore::open_backing_store(path), std::move(clock));
}

Database Database::open(BackingStore store, util::Clock clock) {
    Database db(std::move(store), std::move(clock));
    db.load(Mode::repair);
    return db;
}

Database Database::inspect(BackingStore store) {
    Database db(std::move(store), util::system_seconds);
    db.load(Mode::look);
    return db;
}

void Database::load(Mode mode) {
    store_.set_block_size(1024);
    std::vector<uint8_t> first_kib(1024);
    store_.btb_ReadFile(first_kib, 0);
    Header::validate(first_kib.data());

    const uint32_t block_size = Header::block_size_of(first_kib.data());
    store_.set_block_size(block_size);
    logging::storage_log(Verbosity::verbose, "Block size set to: " + util::format_u64(block_size));
    map_.initialise(store_.block_count());

    header_.load(store_);
    const uint32_t n = header_.copies();
    for (ChainKind kind : all_chain_kinds) {
        copies_of(kind).clear();
        for (uint32_t copy = 0; copy < n; ++copy) {
            copies_of(kind).emplace_back(kind, copy, block_size);
        }
    }
    for (uint32_t copy = 0; copy < n; ++copy) {
        for (ChainKind kind : all_chain_kinds) {
            if (!header_.checksum_matches(kind, copy)) {
                logging::storage_log(
                    Verbosity::verbose,
                    "Checksum for pointer chain " + util::format_u64(copy) + " does not match.");
            }
            copies_of(kind)[copy].load(store_, map_, header_.first_dblock(kind, copy));
        }
    }
    map_.mark(0, 1);
    consistency_pass(mode);
    logging::storage_log(
        Verbosity::verbose,
        "Database file has " + util::format_u64(map_.allocated_count()) + " allocated blocks");
}

uint32_t Database::choose_copy(ChainKind kind) const {
    bool found = false;
    uint32_t best = 0;
    for (uint32_t copy = 0; copy < header_.copies(); ++copy) {
        if (!header_.checksum_matches(kind, copy)) {
            continue;
        }
        if (!found || header_.generation(kind, copy) >= header_.generation(kind, best)) {
            best = copy;
            found = true;
        }
    }
    if (!found) {
        throw error_consistency(std::string("No valid ") + chain_kind_info(kind).lower_name +
                                " pointer chain found");
    }
    logging::storage_log(Verbosity::verbose, std::string(chain_kind_info(kind).name) + " chain " +
                                                 util::format_u64(best) +
                                                 " is our consistent chain");
    return best;
}

void Database::drop_broken_levels(Mode mode) {
    PointerChain& lblocks = chain(ChainKind::lblock);
    for (uint32_t l = 0; l < lblocks.capacity(); ++l) {
        const lblock_entry_t e = lblocks.lblock_entry(l);
        if (e.first_dblock != 0 && e.dblocks == 0) {
            logging::storage_log(Verbosity::warning, "LBlock " + util::format_u64(l) +
                                                         " has no blocks - removing LBlock!");
            clear_if_repairing(mode, lblocks, l);
        } else if (uint64_t{e.first_dblock} + e.dblocks > store_.block_count()) {
            logging::storage_log(Verbosity::warning,
                                 "LBlock " + util::format_u64(l) +
                                     " points beyond the end of the TSDB - removing LBlock!");
            clear_if_repairing(mode, lblocks, l);
        } else if (map_.overlaps(e.first_dblock, e.dblocks)) {
            logging::storage_log(
                Verbosity::warning,
                "LBlock " + util::format_u64(l) + " points to referenced space - removing LBlock!");
            clear_if_repairing(mode, lblocks, l);
        } else if (e.first_dblock != 0) {
            map_.mark(e.first_dblock, e.dblocks);
        }
    }
}

void Database::clear_if_repairing(Mode mode, PointerChain& lblocks, uint32_t l) {
    if (mode == Mode::repair) {
        lblocks.set_lblock_entry(l, {});
    }
}

std::vector<bool> Database::drop_broken_checks() {
    PointerChain& checks = chain(ChainKind::check);
    const PointerChain& lblocks = chain(ChainKind::lblock);
    for (uint32_t c = 0; c < checks.capacity(); ++c) {
        const check_entry_t entry = checks.check_entry(c);
        const uint32_t f = entry.first_lblock;
        if (entry == check_entry_t{}) {
            continue;
        }
        if (f == 0) {
            logging::storage_log(Verbosity::notice, "Check #" + util::format_u64(c) +
                                                        " has no levels. Removing check!");
            checks.set_check_entry(c, {});
        } else if (entry.data_type < type_continuous || entry.data_type > type_incident) {
            logging::storage_log(Verbosity::notice,
                                 "Check #" + util::format_u64(c) + " has unknown data type " +
                                     util::format_u64(entry.data_type) + ". Removing check!");
            checks.set_check_entry(c, {});
        } else if (f >= lblocks.capacity()) {
            logging::storage_log(Verbosity::notice, "Check #" + util::format_u64(c) +
                                                        " referenced lblock " +
                                                        util::format_u64(f) +
                                                        " which is out of bounds. Removing check!");
            checks.set_check_entry(c, {});
        } else if (lblocks.lblock_entry(f).first_dblock == 0) {
            logging::storage_log(Verbosity::notice,
                                 "Check #" + util::format_u64(c) +
                                     " referenced unallocated lblock. Removing check!");
            checks.set_check_entry(c, {});
        }
    }
    return repair_level_lists();
}

std::vector<bool> Database::repair_level_lists() {
    PointerChain& lblocks = chain(ChainKind::lblock);
    PointerChain& checks = chain(ChainKind::check);
    std::vector<bool> listed(lblocks.capacity(), false);
    for (uint32_t c = 0; c < checks.capacity(); ++c) {
        uint32_t l = checks.check_entry(c).first_lblock;
        if (l == 0) {
            continue;
        }
        if (listed[l]) {
            logging::storage_log(Verbosity::notice, "Check #" + util::format_u64(c) +
                                                        " shares lblock " + util::format_u64(l) +
                                                        " with another series. Removing check!");
            checks.set_check_entry(c, {});
            continue;
        }
        listed[l] = true;
        for (lblock_entry_t e = lblocks.lblock_entry(l); e.next != 0;) {
            const bool free =
                e.next >= lblocks.capacity() || lblocks.lblock_entry(e.next).first_dblock == 0;
            if (free || listed[e.next]) {
                logging::storage_log(Verbosity::notice,
                                     "LBlock " + util::format_u64(l) + " has " +
                                         (free ? "an unallocated" : "an already listed") +
                                         " next level " + util::format_u64(e.next) +
                                         ". Cutting the level list there!");
                e.next = 0;
                lblocks.set_lblock_entry(l, e);
                break;
            }
            l = e.next;
            listed[l] = true;
            e = lblocks.lblock_entry(l);
        }
    }
    return listed;
}

void Database::grow_to_match_lblocks(ChainKind kind, const char* message) {
    while (chain(kind).capacity() < chain(ChainKind::lblock).capacity()) {
        logging::storage_log(Verbosity::verbose, message);
        chain(kind).grow(store_, map_, 1);
    }
}

void Database::consistency_pass(Mode mode) {
    in_use_[index(ChainKind::head)] = choose_copy(ChainKind::head);
    last_committed_head_ = in_use_[index(ChainKind::head)];
    in_use_[index(ChainKind::tail)] = choose_copy(ChainKind::tail);
    in_use_[index(ChainKind::lblock)] = choose_copy(ChainKind::lblock);
    drop_broken_levels(mode);
    in_use_[index(ChainKind::check)] = choose_copy(ChainKind::check);
    if (mode == Mode::look) {
        return;
    }
    for (ChainKind kind : all_chain_kinds) {
        shift(kind);
    }
    grow_to_match_lblocks(ChainKind::tail, "Will grow tail chain to match lblock chain");
    grow_to_match_lblocks(ChainKind::head, "Will grow head chain to match lblock chain");
    free_orphan_levels(drop_broken_checks());
    empty_misplaced_levels();
    phase_shift_all();
}

void Database::free_orphan_levels(const std::vector<bool>& listed) {
    for (uint32_t l = 1; l < listed.size(); ++l) {
        if (!listed[l] && lblock_entry(l).first_dblock != 0) {
            logging::storage_log(Verbosity::notice, "LBlock " + util::format_u64(l) +
                                                        " belongs to no series - releasing it!");
            release_lblock(l);
        }
    }
}

void Database::empty_misplaced_levels() {
    const PointerChain& lblocks = chain(ChainKind::lblock);
    PointerChain& heads = chain(ChainKind::head);
    PointerChain& tails = chain(ChainKind::tail);
    for (uint32_t l = 0; l < lblocks.capacity(); ++l) {
        const uint64_t size = uint64_t{level_size(lblocks.lblock_entry(l))};
        if (size != 0 && (heads.position(l) >= size || tails.position(l) >= size)) {
            logging::storage_log(Verbosity::warning, "LBlock " + util::format_u64(l) +
                                                         " has its head or tail outside the level"
                                                         " - emptying it!");
            heads.set_position(l, 0);
            tails.set_position(l, 0);
        }
    }
}

}  // namespace tsdb
