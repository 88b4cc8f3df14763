#include "tsdb/file/pointer_chain.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "error/assert.h"
#include "log/storage_log.h"
#include "tsdb/error.h"
#include "tsdb/file/allocation_map.h"
#include "tsdb/file/backing_store.h"
#include "util/bytes.h"

namespace tsdb {

namespace {

constexpr uint32_t next_offset = 4;

uint32_t next_of(const uint8_t* block) { return util::load_be32(block + next_offset); }

}  // namespace

void format_pointer_block(uint8_t* block, uint32_t block_size, ChainKind kind, uint32_t copy,
                          uint32_t next, uint32_t position_in_run) {
    std::memset(block, 0, block_size);
    util::store_be32(block, chain_kind_info(kind).magic);
    util::store_be32(block + next_offset, next);
    util::store_be32(block + 8, copy);
    util::store_be32(block + 12, position_in_run);
}

PointerChain::PointerChain(ChainKind kind, uint32_t copy, uint32_t block_size)
    : kind_(kind),
      copy_(copy),
      block_size_(block_size),
      per_block_(tsdb::entries_per_block(kind, block_size)) {}

ChainRun PointerChain::read_run(BackingStore& store, uint32_t first) const {
    ChainRun run{first, 1, std::vector<uint8_t>(block_size_), false, {}};
    store.btb_ReadFile(run.buffer, first);
    if (util::load_be32(run.buffer.data()) != chain_kind_info(kind_).magic) {
        throw error_red_magic(chain_kind_info(kind_).bad_magic_text + std::to_string(first));
    }
    while (next_of(run.buffer.data() + (run.blocks - 1) * block_size_) == first + run.blocks &&
           first + run.blocks < store.block_count()) {
        run.buffer.resize(size_t{run.blocks + 1} * block_size_);
        store.btb_ReadFile(std::span(run.buffer).subspan(size_t{run.blocks} * block_size_),
                           first + run.blocks);
        ++run.blocks;
    }
    run.stale.assign(run.blocks, false);
    return run;
}

void PointerChain::load(BackingStore& store, AllocationMap& map, uint32_t first_dblock) {
    uint32_t block = first_dblock;
    do {
        // The file's last block lies outside the database, as does all beyond.
        if (block >= store.block_count() || !store.probe_block(block)) {
            throw error_red_pointer("Unable to seek to offset of chain " + std::to_string(copy_));
        }
        ChainRun run = read_run(store, block);
        map.mark(run.first_dblock, run.blocks);
        block = next_of(run.buffer.data() + (run.blocks - 1) * block_size_);
        run_first_index_.push_back(total_blocks());
        runs_.push_back(std::move(run));
    } while (block != 0);
}

uint32_t PointerChain::total_blocks() const {
    return runs_.empty() ? 0 : run_first_index_.back() + runs_.back().blocks;
}

size_t PointerChain::run_holding(uint32_t global_block) const {
    const auto after =
        std::upper_bound(run_first_index_.begin(), run_first_index_.end(), global_block);
    return static_cast<size_t>(after - run_first_index_.begin()) - 1;
}

const uint8_t* PointerChain::locate(uint32_t index) const {
    if (index >= capacity()) {
        return nullptr;
    }
    const uint32_t global_block = index / per_block_;
    const size_t run = run_holding(global_block);
    const uint32_t block_in_run = global_block - run_first_index_[run];
    return runs_[run].buffer.data() + size_t{block_in_run} * block_size_ +
           pointer_block_header_size + (index % per_block_) * chain_kind_info(kind_).entry_size;
}

uint8_t* PointerChain::locate_for_change(uint32_t index) {
    const uint8_t* entry = locate(index);
    if (entry == nullptr) {
        throw error_internal("Pointer for lblock " + std::to_string(index) +
                             " does not exist in chain " + std::to_string(copy_));
    }
    const size_t r = run_holding(index / per_block_);
    ChainRun& run = runs_[r];
    run.dirty = true;
    run.stale[index / per_block_ - run_first_index_[r]] = true;
    return run.buffer.data() + (entry - run.buffer.data());
}

const uint8_t* PointerChain::entry(uint32_t index) const {
    const uint8_t* found = locate(index);
    if (found == nullptr) {
        throw error_internal("Pointer for lblock " + std::to_string(index) +
                             " cannot be fetched in chain " + std::to_string(copy_));
    }
    return found;
}

uint32_t PointerChain::field(uint32_t index, uint32_t field) const {
    return util::load_be32(entry(index) + 4 * field);
}

void PointerChain::set_fields(uint32_t index, std::initializer_list<uint32_t> fields) {
    error::require(fields.size() * 4 == chain_kind_info(kind_).entry_size,
                   "entry written with the wrong number of fields");
    uint8_t* entry = locate_for_change(index);
    if (*fields.begin() == 0) {
        scan_from_ = std::min(scan_from_, index);
    }
    for (uint32_t value : fields) {
        util::store_be32(entry, value);
        entry += 4;
    }
}

void PointerChain::set_position(uint32_t lblock, uint32_t position) {
    set_fields(lblock, {position});
}

void put_lblock_entry(uint8_t* block, uint32_t lblock, const lblock_entry_t& entry) {
    uint8_t* e =
        block + pointer_block_header_size + lblock * chain_kind_info(ChainKind::lblock).entry_size;
    util::store_be32(e, entry.first_dblock);
    util::store_be32(e + 4, entry.dblocks);
    util::store_be32(e + 8, entry.next);
    util::store_be32(e + 12, entry.resolution);
}

lblock_entry_t PointerChain::lblock_entry(uint32_t lblock) const {
    const uint8_t* e = entry(lblock);
    return {util::load_be32(e), util::load_be32(e + 4), util::load_be32(e + 8),
            util::load_be32(e + 12)};
}

void PointerChain::set_lblock_entry(uint32_t lblock, const lblock_entry_t& e) {
    set_fields(lblock, {e.first_dblock, e.dblocks, e.next, e.resolution});
}

check_entry_t PointerChain::check_entry(uint32_t check_id) const {
    const uint8_t* e = entry(check_id);
    return {util::load_be32(e), util::load_be32(e + 4)};
}

void PointerChain::set_check_entry(uint32_t check_id, const check_entry_t& e) {
    set_fields(check_id, {e.data_type, e.first_lblock});
}

uint32_t PointerChain::first_free(uint32_t from) const {
    // Only a scan from the first entry not known to be used may move the mark.
    const bool from_mark = from <= scan_from_;
    for (uint32_t index = std::max(from, scan_from_); index < capacity(); ++index) {
        if (util::load_be32(locate(index)) == 0) {
            if (from_mark) {
                scan_from_ = index;
            }
            return index;
        }
    }
    if (from_mark) {
        scan_from_ = capacity();
    }
    return no_free_entry;
}

void PointerChain::grow(BackingStore& store, AllocationMap& map, uint32_t n) {
    const uint32_t first = map.allocate_growing(store, n);
    if (first == 0) {
        throw error_dbnospace("Unable to allocate " + std::to_string(n) +
                              " blocks even after attempted database growth!");
    }
    ChainRun run{first, n, std::vector<uint8_t>(size_t{n} * block_size_), false,
                 std::vector<bool>(n, false)};
    for (uint32_t i = 0; i < n; ++i) {
        format_pointer_block(run.buffer.data() + size_t{i} * block_size_, block_size_, kind_, copy_,
                             i + 1 < n ? first + i + 1 : 0, i);
    }
    try {
        store.btb_WriteFile(first, std::span(run.buffer).first(size_t{n} * block_size_));
        // Every copy is loaded at open, committed or not: the new run must be
        // on disk before any pointer to it can be.
        store.sync_writes();
    } catch (const error_generic&) {
        map.release(first, n);
        throw;
    }
    if (!runs_.empty()) {
        ChainRun& last = runs_.back();
        util::store_be32(last.buffer.data() + size_t{last.blocks - 1} * block_size_ + next_offset,
                         first);
        last.dirty = true;
        last.stale.back() = true;
    }
    run_first_index_.push_back(total_blocks());
    runs_.push_back(std::move(run));
    logging::storage_log(logging::Verbosity::verbose,
                         "Chain " + std::to_string(copy_) + " in chain-block 0 was grown with " +
                             std::to_string(n) + " blocks to " + std::to_string(runs_.size()) +
                             " chain elements (" + std::to_string(capacity()) + " pointers)");
}

bool PointerChain::dirty() const {
    return std::any_of(runs_.begin(), runs_.end(), [](const ChainRun& r) { return r.dirty; });
}

void PointerChain::write_stale(BackingStore& store) {
    for (ChainRun& run : runs_) {
        write_stale_blocks(store, run);
    }
}

void PointerChain::mark_clean() {
    for (ChainRun& run : runs_) {
        run.dirty = false;
    }
}

void PointerChain::mark_unwritten() {
    for (ChainRun& run : runs_) {
        run.stale.assign(run.blocks, true);
    }
}

void PointerChain::write_stale_blocks(BackingStore& store, ChainRun& run) {
    for (uint32_t b = 0; b < run.blocks;) {
        if (!run.stale[b]) {
            ++b;
            continue;
        }
        uint32_t end = b;
        while (end < run.blocks && run.stale[end]) {
            ++end;
        }
        store.btb_WriteFile(
            run.first_dblock + b,
            std::span(run.buffer).subspan(size_t{b} * block_size_, size_t{end - b} * block_size_));
        std::fill(run.stale.begin() + b, run.stale.begin() + end, false);
        b = end;
    }
}

void PointerChain::copy_entries_from(const PointerChain& source) {
    scan_from_ = 0;
    error::require(capacity() >= source.capacity(), "chain copied into a smaller copy");
    const uint32_t entry_bytes = block_size_ - pointer_block_header_size;
    const uint32_t source_blocks = source.total_blocks();
    static const std::vector<uint8_t> zeros(16384, 0);
    uint32_t global = 0;
    for (ChainRun& run : runs_) {
        run.dirty = source.dirty();
        for (uint32_t b = 0; b < run.blocks; ++b, ++global) {
            uint8_t* to = run.buffer.data() + size_t{b} * block_size_ + pointer_block_header_size;
            const uint8_t* from =
                global < source_blocks ? source.locate(global * per_block_) : zeros.data();
            if (std::memcmp(to, from, entry_bytes) != 0) {
                std::memcpy(to, from, entry_bytes);
                run.stale[b] = true;
            }
        }
    }
}

}  // namespace tsdb
