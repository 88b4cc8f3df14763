// The open database: the backing store, the header, the allocation map and
// the N copies of each of the four pointer chains, with the catalogue of
// series and the byte rings of their levels on top.
//
// Changes to chain entries are made in memory, in the copy in use of each
// kind; phase_shift_all() commits them. On disk, a copy with the greatest
// generation and a matching checksum is always one that was written and
// flushed whole, so a crash at any moment leaves the last committed state.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "tsdb/file/allocation_map.h"
#include "tsdb/file/backing_store.h"
#include "tsdb/file/header.h"
#include "tsdb/file/pointer_chain.h"
#include "tsdb/layout.h"
#include "util/clock.h"

namespace tsdb {

// One level: where its blocks lie, its size in bytes, its ring positions
// (records from head up to tail) and the next coarser level of its series.
struct LevelView {
    lblock_entry_t entry;
    uint32_t size = 0;
    uint32_t head = 0;
    uint32_t tail = 0;
    uint32_t next() const { return entry.next; }
    bool empty() const { return head == tail; }
    // Bytes the records take, with the ring's wrap.
    uint32_t used() const { return (tail + size - head) % size; }
};

class Database {
public:
    // Opens an existing database: header, chains, allocation map, the
    // consistency pass with its repairs, and a phase shift. `clock` stamps
    // every phase shift.
    static Database open(const std::string& path, util::Clock clock = util::system_seconds);
    static Database open(BackingStore store, util::Clock clock = util::system_seconds);
    // Opens for looking only: chooses the copies in use but repairs, grows and
    // shifts nothing, so a damaged file is seen as it is. On a file a process
    // holds, it reads the last committed state, which holds while
    // unchanged_since_open().
    static Database inspect(BackingStore store);
    // No commit has landed since the open read block 0: everything read
    // since belongs to the state it described.
    bool unchanged_since_open() { return header_.on_disk(store_); }

    BackingStore& store() { return store_; }
    const Header& header() const { return header_; }
    const AllocationMap& allocation() const { return map_; }
    uint32_t block_size() const { return store_.block_size(); }
    uint32_t store_block_count() const { return store_.block_count(); }

    // The copy in use of a kind, and a given copy.
    PointerChain& chain(ChainKind kind) { return copies_of(kind)[in_use_[index(kind)]]; }
    const PointerChain& chain(ChainKind kind) const { return copies(kind)[in_use_[index(kind)]]; }
    uint32_t copy_in_use(ChainKind kind) const { return in_use_[index(kind)]; }
    const std::vector<PointerChain>& copies(ChainKind kind) const { return chains_[index(kind)]; }
    // The head of a level in the Head copy last committed, or as published
    // since: writers measure room against it. 0 for a level that copy cannot
    // hold, which has never been committed.
    uint32_t committed_head(uint32_t lblock) const;

    // Commits every dirty chain copy and moves each to its next copy. A
    // failure leaves memory describing the disk: what it did not commit is
    // committed by the next phase shift.
    void phase_shift_all();
    int64_t last_phase_shift_attempt() const { return last_attempt_; }
    int64_t now() const { return clock_(); }

    // --- catalogue ---
    // A new series with its levels, committed: under `check_id` when given
    // (tsdb::error_range when that id is in use), else the lowest free id.
    uint32_t allocate_described_ts(const time_series_layout_t& layout,
                                   std::optional<uint32_t> check_id = std::nullopt);
    // A list of empty levels for the layout, finest first; a failure leaves
    // none behind.
    uint32_t allocate_levels(const time_series_layout_t& layout);
    uint32_t allocate_check_id(uint32_t data_type, uint32_t first_lblock,
                               std::optional<uint32_t> check_id = std::nullopt);
    uint32_t allocate_level(uint32_t dblocks, uint32_t resolution, uint32_t next);
    uint32_t allocate_like(uint32_t first_lblock);
    time_series_layout_t fetch_ts_description(uint32_t check_id) const;
    bool check_id_exists(uint32_t check_id) const;
    // Throws tsdb::error_internal "Referenced unallocated check_id (" id ")".
    void check_allocated(uint32_t check_id) const;
    void deallocate_check_id(uint32_t check_id);
    // Frees a level in memory; its blocks and its number are handed out
    // again only after a phase shift has committed the release.
    void release_lblock(uint32_t lblock);
    void release_lblock_list(uint32_t first_lblock);
    void publish_heads(uint32_t first_lblock);

    // --- series and levels, as the algorithms read them ---
    // What a caller does with a series it expects of one storage type: it
    // words the failure when the series holds another.
    enum class Use { given, insert, extract, truncate };
    // The series' finest level. Throws as check_allocated() does, and
    // tsdb::error_dbtype "Type mismatch - ..." for a series of another type.
    uint32_t typed_series(uint32_t check_id, uint32_t expected, Use use) const;
    // The series' entry (storage type and finest level) as it stands.
    check_entry_t series(uint32_t check_id) const {
        return chain(ChainKind::check).check_entry(check_id);
    }
    void set_series(uint32_t check_id, const check_entry_t& entry) {
        chain(ChainKind::check).set_check_entry(check_id, entry);
    }
    // The series' levels, finest first.
    std::vector<uint32_t> levels_of(uint32_t check_id) const;
    LevelView level(uint32_t lblock) const;
    uint32_t level_bytes(uint32_t lblock) const { return level_size(lblock_entry(lblock)); }
    void set_head(uint32_t lblock, uint32_t position) {
        chain(ChainKind::head).set_position(lblock, position);
    }
    void set_tail(uint32_t lblock, uint32_t position) {
        chain(ChainKind::tail).set_position(lblock, position);
    }

    // --- level rings ---
    // Appends at the level's tail; false, changing nothing, without room.
    bool write_to_lblock(uint32_t lblock, std::span<const uint8_t> bytes);
    // Reads `length` bytes at `position`, wrapping at the level's end;
    // returns the position after them.
    uint32_t read_from_lblock(const lblock_entry_t& level, uint32_t position,
                              std::span<uint8_t> into, bool dynamic = false);

private:
    enum class Mode { repair, look };

    Database(BackingStore store, util::Clock clock);
    static size_t index(ChainKind kind) { return static_cast<size_t>(kind); }
    std::vector<PointerChain>& copies_of(ChainKind kind) { return chains_[index(kind)]; }

    void load(Mode mode);
    void consistency_pass(Mode mode);
    uint32_t choose_copy(ChainKind kind) const;
    void drop_broken_levels(Mode mode);
    static void clear_if_repairing(Mode mode, PointerChain& lblocks, uint32_t l);
    // Returns, per lblock, whether a series lists it as one of its levels.
    std::vector<bool> drop_broken_checks();
    // Every series keeps a list of levels of its own: a list ends where its
    // next level is free, out of range or already in a list (a loop, or a
    // level shared), and a series whose first level is another's is dropped.
    // Returns which lblocks the lists hold.
    std::vector<bool> repair_level_lists();
    // Releases every level not `listed`: what a crash left of a creation, a
    // merge, a rebuild or the upgrade before its series took the levels or
    // after it gave them up.
    void free_orphan_levels(const std::vector<bool>& listed);
    // Empties, with a log line, every level whose head or tail lies outside it.
    void empty_misplaced_levels();
    void grow_to_match_lblocks(ChainKind kind, const char* message);
    // A free LBlock entry whose release is committed, or no_free_entry.
    uint32_t free_lblock() const;
    // The lowest free check id, growing the Check chain once when none is.
    uint32_t free_check_id();
    // Grows the Check chain, in one run, until it holds `check_id`; throws
    // tsdb::error_range when that id is in use.
    void make_room_for_check_id(uint32_t check_id);
    void commit_dirty(std::array<bool, 4> pending);
    // Gives the pending kinds among `kinds` a new generation in one write of
    // block 0 and flushes it; they become clean and owe a shift.
    void commit_synced(std::array<bool, 4>& pending, std::initializer_list<ChainKind> kinds);
    void shift_committed_kinds();
    void reuse_released_space();
    void shift(ChainKind kind);
    // Sets the descriptor of the copy in use in the header buffer only.
    void new_generation(ChainKind kind);
    uint32_t level_size(const lblock_entry_t& level) const { return level.dblocks * block_size(); }
    lblock_entry_t lblock_entry(uint32_t lblock) const {
        return chain(ChainKind::lblock).lblock_entry(lblock);
    }

    BackingStore store_;
    Header header_;
    AllocationMap map_;
    std::array<std::vector<PointerChain>, 4> chains_;
    std::array<uint32_t, 4> in_use_{};
    uint32_t last_committed_head_ = 0;
    std::map<uint32_t, uint32_t> published_beyond_;  // heads past that copy's capacity
    util::Clock clock_;
    int64_t last_attempt_ = 0;
    // Released space kept from reuse until its release is committed.
    std::vector<std::pair<uint32_t, uint32_t>> released_blocks_;  // first, count
    std::set<uint32_t> released_lblocks_;
    // Kinds committed by a phase shift that failed before moving them on:
    // their copy in use is the committed one and must not be written again.
    std::array<bool, 4> shift_owed_{};
    // A write of block 0 failed: the disk may hold either version.
    bool header_unsure_ = false;
};

}  // namespace tsdb
