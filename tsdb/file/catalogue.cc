// The series catalogue: check ids in the Check chain, each naming a data type
// and a list of levels (lblocks) through the LBlock chain, finest first.
#include <string>

#include "log/storage_log.h"
#include "tsdb/error.h"
#include "tsdb/file/database.h"
#include "tsdb/storage_type.h"
#include "util/format.h"

namespace tsdb {

namespace {

using logging::Verbosity;

}  // namespace

uint32_t record_unit_size(uint32_t data_type) {
    switch (data_type) {
        case type_continuous:
        case type_monotonic:
            return 28;
        case type_enum:
            return 20;
        case type_incident:
            return 1;
        default:
            throw error_dbtype("Datatype out of range");
    }
}

uint32_t Database::free_check_id() {
    PointerChain& checks = chain(ChainKind::check);
    uint32_t id = checks.first_free();
    if (id == PointerChain::no_free_entry) {
        logging::storage_log(Verbosity::verbose,
                             "No free check IDs in check chain - will attempt to grow check chain");
        checks.grow(store_, map_, 1);
        id = checks.first_free();
        if (id == PointerChain::no_free_entry) {
            throw error_dbnospace("Could not allocate check ID after attempted Check Chain growth");
        }
    }
    return id;
}

void Database::make_room_for_check_id(uint32_t check_id) {
    PointerChain& checks = chain(ChainKind::check);
    if (check_id >= checks.capacity()) {
        const uint32_t missing = check_id - checks.capacity() + 1;
        checks.grow(store_, map_,
                    (missing + checks.entries_per_block() - 1) / checks.entries_per_block());
    }
    if (checks.check_entry(check_id).data_type != 0) {
        throw error_range("Check id " + util::format_u64(check_id) + " is in use");
    }
}

uint32_t Database::allocate_check_id(uint32_t data_type, uint32_t first_lblock,
                                     std::optional<uint32_t> check_id) {
    uint32_t id = 0;
    if (check_id) {
        make_room_for_check_id(*check_id);
        id = *check_id;
    } else {
        id = free_check_id();
    }
    chain(ChainKind::check).set_check_entry(id, {data_type, first_lblock});
    try {
        phase_shift_all();
    } catch (const error_generic&) {
        // Not committed: the id must not stay live over levels about to be freed.
        chain(ChainKind::check).set_check_entry(id, {});
        throw;
    }
    return id;
}

uint32_t Database::allocate_described_ts(const time_series_layout_t& layout,
                                         std::optional<uint32_t> check_id) {
    if (layout.levels.empty()) {
        throw error_internal("allocate_described_ts() invoked with no levels");
    }
    if (check_id) {
        make_room_for_check_id(*check_id);  // before any level is allocated
    }
    const uint32_t first = allocate_levels(layout);
    try {
        return allocate_check_id(layout.data_type, first, check_id);
    } catch (const error_generic&) {
        // A series that cannot be made whole leaves no levels behind.
        release_lblock_list(first);
        throw;
    }
}

uint32_t Database::allocate_levels(const time_series_layout_t& layout) {
    if (layout.levels.empty()) {
        throw error_internal("allocate_levels() invoked with no levels");
    }
    const uint32_t unit = record_unit_size(layout.data_type);
    uint32_t next = 0;
    try {
        for (auto level = layout.levels.rbegin(); level != layout.levels.rend(); ++level) {
            const uint64_t bytes = uint64_t{level->size} * unit;
            const uint64_t dblocks = (bytes + block_size() - 1) / block_size();
            if (dblocks > 0xFFFFFFFF) {
                throw error_range("Level of " + util::format_u64(level->size) +
                                  " records is too large");
            }
            const uint32_t made =
                allocate_level(static_cast<uint32_t>(dblocks), level->resolution, next);
            if (made == 0) {
                throw error_internal("allocate_level() returned 0");
            }
            next = made;
        }
        return next;
    } catch (const error_generic&) {
        if (next != 0) {
            release_lblock_list(next);
        }
        throw;
    }
}

uint32_t Database::allocate_level(uint32_t dblocks, uint32_t resolution, uint32_t next) {
    const uint32_t first = map_.allocate_growing(store_, dblocks);
    if (first == 0) {
        throw error_dbnospace("Unable to allocate " + util::format_u64(dblocks) +
                              " blocks in db file");
    }
    PointerChain& lblocks = chain(ChainKind::lblock);
    uint32_t l = free_lblock();
    if (l == PointerChain::no_free_entry) {
        lblocks.grow(store_, map_, 1);
        l = free_lblock();
        if (l == PointerChain::no_free_entry) {
            throw error_dbnospace("Unable to get free lblock pointer");
        }
    }
    lblocks.set_lblock_entry(l, {first, dblocks, next, resolution});
    for (ChainKind kind : {ChainKind::head, ChainKind::tail}) {
        while (chain(kind).capacity() <= l) {
            chain(kind).grow(store_, map_, 1);
        }
        chain(kind).set_position(l, 0);
    }
    // Lblock 0 means "none": it stays filled and is never handed out.
    return l == 0 ? allocate_level(dblocks, resolution, next) : l;
}

uint32_t Database::free_lblock() const {
    const PointerChain& lblocks = chain(ChainKind::lblock);
    uint32_t l = lblocks.first_free();
    while (l != PointerChain::no_free_entry && released_lblocks_.contains(l)) {
        l = lblocks.first_free(l + 1);
    }
    return l;
}

uint32_t Database::allocate_like(uint32_t first_lblock) {
    const lblock_entry_t e = chain(ChainKind::lblock).lblock_entry(first_lblock);
    const uint32_t next = e.next != 0 ? allocate_like(e.next) : 0;
    try {
        return allocate_level(e.dblocks, e.resolution, next);
    } catch (const error_generic&) {
        release_lblock_list(next);
        throw;
    }
}

bool Database::check_id_exists(uint32_t check_id) const {
    const PointerChain& checks = chain(ChainKind::check);
    if (check_id >= checks.capacity()) {
        return false;
    }
    const check_entry_t c = checks.check_entry(check_id);
    const PointerChain& lblocks = chain(ChainKind::lblock);
    return c.data_type != 0 && c.first_lblock != 0 && c.first_lblock < lblocks.capacity() &&
           lblocks.lblock_entry(c.first_lblock).first_dblock != 0;
}

void Database::check_allocated(uint32_t check_id) const {
    if (!check_id_exists(check_id)) {
        throw error_internal("Referenced unallocated check_id (" + util::format_u64(check_id) +
                             ")");
    }
}

namespace {

std::string mismatch_text(Database::Use use, uint32_t check_id, uint32_t found, uint32_t expected) {
    const std::string f = util::format_u64(found);
    const std::string e = util::format_u64(expected);
    switch (use) {
        case Database::Use::given:
            return "Type mismatch - given check id (" + util::format_u64(check_id) + ") has type " +
                   f + " but we expected " + e;
        case Database::Use::insert:
            return "Type mismatch - trying to insert type " + e + " in a type " + f +
                   " level (id: " + util::format_u64(check_id) + ")";
        case Database::Use::extract:
            return "Type mismatch - trying to extract type " + e + " in a type " + f + " level";
        case Database::Use::truncate:
            return "Type mismatch - trying to truncate type " + e + " in a type " + f + " level";
    }
    return {};
}

}  // namespace

uint32_t Database::typed_series(uint32_t check_id, uint32_t expected, Use use) const {
    check_allocated(check_id);
    const check_entry_t c = series(check_id);
    if (c.data_type != expected) {
        throw error_dbtype(mismatch_text(use, check_id, c.data_type, expected));
    }
    return c.first_lblock;
}

std::vector<uint32_t> Database::levels_of(uint32_t check_id) const {
    std::vector<uint32_t> levels;
    const uint32_t capacity = chain(ChainKind::lblock).capacity();
    // A list can hold each lblock once; a longer walk has met a loop.
    for (uint32_t l = series(check_id).first_lblock; l != 0; l = lblock_entry(l).next) {
        if (levels.size() == capacity) {
            throw error_consistency("Level list of check id " + util::format_u64(check_id) +
                                    " loops");
        }
        levels.push_back(l);
    }
    return levels;
}

LevelView Database::level(uint32_t lblock) const {
    const lblock_entry_t e = lblock_entry(lblock);
    return {e, level_size(e), chain(ChainKind::head).position(lblock),
            chain(ChainKind::tail).position(lblock)};
}

time_series_layout_t Database::fetch_ts_description(uint32_t check_id) const {
    check_allocated(check_id);
    const uint32_t data_type = series(check_id).data_type;
    const uint32_t unit = record_unit_size(data_type);
    time_series_layout_t layout{data_type, {}};
    for (uint32_t l : levels_of(check_id)) {
        const lblock_entry_t e = lblock_entry(l);
        layout.levels.push_back(
            {static_cast<uint32_t>(uint64_t{block_size()} * e.dblocks / unit), e.resolution});
    }
    return layout;
}

void Database::release_lblock(uint32_t lblock) {
    const lblock_entry_t e = chain(ChainKind::lblock).lblock_entry(lblock);
    released_blocks_.emplace_back(e.first_dblock, e.dblocks);
    released_lblocks_.insert(lblock);
    chain(ChainKind::head).set_position(lblock, 0);
    chain(ChainKind::tail).set_position(lblock, 0);
    chain(ChainKind::lblock).set_lblock_entry(lblock, {});
}

void Database::release_lblock_list(uint32_t first_lblock) {
    for (uint32_t l = first_lblock; l != 0;) {
        const uint32_t next = chain(ChainKind::lblock).lblock_entry(l).next;
        release_lblock(l);
        l = next;
    }
}

void Database::deallocate_check_id(uint32_t check_id) {
    PointerChain& checks = chain(ChainKind::check);
    if (check_id >= checks.capacity()) {
        throw error_range("Given check id for deallocation is out of range");
    }
    release_lblock_list(checks.check_entry(check_id).first_lblock);
    checks.set_check_entry(check_id, {});
}

uint32_t Database::committed_head(uint32_t lblock) const {
    const PointerChain& committed = chains_[index(ChainKind::head)][last_committed_head_];
    if (lblock < committed.capacity()) {
        return committed.position(lblock);
    }
    const auto published = published_beyond_.find(lblock);
    return published != published_beyond_.end() ? published->second : 0;
}

void Database::publish_heads(uint32_t first_lblock) {
    PointerChain& committed = chains_[index(ChainKind::head)][last_committed_head_];
    for (uint32_t l = first_lblock; l != 0; l = chain(ChainKind::lblock).lblock_entry(l).next) {
        const uint32_t head = chain(ChainKind::head).position(l);
        if (l < committed.capacity()) {
            committed.set_position(l, head);
        } else {
            published_beyond_[l] = head;
        }
    }
}

}  // namespace tsdb
