// One copy of one kind of pointer chain: a linked list of pointer blocks,
// stored as runs of consecutive blocks, each holding an array of fixed-size
// big-endian entries. The whole copy is kept in memory; entry changes only
// mark their run dirty, and blocks reach the disk at growth and at commits,
// where only the blocks whose disk bytes are out of date are written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "tsdb/file/chain_kind.h"

namespace tsdb {

class AllocationMap;
class BackingStore;

// A level: its dblocks, the next coarser level of its series, its resolution.
struct lblock_entry_t {
    uint32_t first_dblock = 0;  // 0: the entry is free
    uint32_t dblocks = 0;
    uint32_t next = 0;
    uint32_t resolution = 0;
    bool operator==(const lblock_entry_t&) const = default;
};

// A series: its data type and its finest level.
struct check_entry_t {
    uint32_t data_type = 0;  // 0: the entry is free
    uint32_t first_lblock = 0;
    bool operator==(const check_entry_t&) const = default;
};

struct ChainRun {
    uint32_t first_dblock = 0;
    uint32_t blocks = 0;
    std::vector<uint8_t> buffer;  // the run's blocks as they are to be on disk
    bool dirty = false;           // an entry changed since the last commit
    std::vector<bool> stale;      // per block: the disk may hold other bytes
};

// Lays out an empty pointer block: the kind's magic, the next block, the copy
// it belongs to, its place in its run, and all entries 0.
void format_pointer_block(uint8_t* block, uint32_t block_size, ChainKind kind, uint32_t copy,
                          uint32_t next, uint32_t position_in_run);
// Sets entry `lblock` (below the entries per block) of an lblock pointer
// block laid out by format_pointer_block.
void put_lblock_entry(uint8_t* block, uint32_t lblock, const lblock_entry_t& entry);

class PointerChain {
public:
    static constexpr uint32_t no_free_entry = 0xFFFFFFFF;

    PointerChain(ChainKind kind, uint32_t copy, uint32_t block_size);

    // Reads the copy starting at `first_dblock` and marks its blocks.
    // Throws tsdb::error_red_pointer, tsdb::error_red_magic or
    // tsdb::error_dcalloc (a chain that loops or shares a block).
    void load(BackingStore& store, AllocationMap& map, uint32_t first_dblock);

    ChainKind kind() const { return kind_; }
    uint32_t copy() const { return copy_; }
    uint32_t capacity() const { return per_block_ * total_blocks(); }
    uint32_t entries_per_block() const { return per_block_; }
    const std::vector<ChainRun>& runs() const { return runs_; }
    uint32_t first_dblock() const { return runs_.empty() ? 0 : runs_.front().first_dblock; }

    // Head and Tail: a byte position inside the lblock of that number.
    uint32_t position(uint32_t lblock) const { return field(lblock, 0); }
    void set_position(uint32_t lblock, uint32_t position);
    lblock_entry_t lblock_entry(uint32_t lblock) const;
    void set_lblock_entry(uint32_t lblock, const lblock_entry_t& entry);
    check_entry_t check_entry(uint32_t check_id) const;
    void set_check_entry(uint32_t check_id, const check_entry_t& entry);

    // The first entry at or after `from` whose first field is 0, or
    // no_free_entry.
    uint32_t first_free(uint32_t from = 0) const;

    // Appends one run of n fresh blocks, written at once.
    void grow(BackingStore& store, AllocationMap& map, uint32_t n);
    bool dirty() const;
    // Brings the copy on disk up to date: writes every block whose disk bytes
    // may differ from memory, consecutive ones in one write. A block counts
    // as written once its write has succeeded.
    void write_stale(BackingStore& store);
    // The copy's descriptor has been committed and flushed.
    void mark_clean();
    // Writes of the copy may not have reached the disk (a failed flush):
    // every block is written again at the next commit.
    void mark_unwritten();
    // Takes the source's entries (zero beyond its capacity) and its dirty
    // state; memory only (blocks that changed become stale). The capacity
    // must be at least the source's.
    void copy_entries_from(const PointerChain& source);

private:
    uint32_t total_blocks() const;
    // The entry's bytes, or nullptr beyond the capacity.
    const uint8_t* locate(uint32_t index) const;
    uint8_t* locate_for_change(uint32_t index);
    void write_stale_blocks(BackingStore& store, ChainRun& run);
    // The entry's bytes; tsdb::error_internal if it does not exist.
    const uint8_t* entry(uint32_t index) const;
    uint32_t field(uint32_t index, uint32_t field) const;
    void set_fields(uint32_t index, std::initializer_list<uint32_t> fields);
    // Reads one run of consecutive blocks starting at `first`.
    ChainRun read_run(BackingStore& store, uint32_t first) const;
    size_t run_holding(uint32_t global_block) const;

    ChainKind kind_;
    uint32_t copy_;
    uint32_t block_size_;
    uint32_t per_block_;
    std::vector<ChainRun> runs_;
    std::vector<uint32_t> run_first_index_;  // global block index of each run's first block
    // No entry below this is free: spares the free-entry search a scan of
    // the entries it has already found in use.
    mutable uint32_t scan_from_ = 0;
};

}  // namespace tsdb
