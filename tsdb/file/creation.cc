#include "tsdb/file/creation.h"

#include <vector>

#include "tsdb/error.h"
#include "tsdb/file/backing_store.h"
#include "tsdb/file/header.h"
#include "tsdb/file/pointer_chain.h"
#include "util/system_error.h"

namespace tsdb {

uint32_t minimum_blocks(uint32_t chain_copies) {
    // Header, a pointer block per copy of each kind, lblock 0's block.
    return 1 + 4 * chain_copies + 1;
}

namespace {

void validate(const NewDatabase& o) {
    if (o.block_size < 1024 || o.block_size > 16384 || o.block_size % 1024 != 0) {
        throw error_range("block size must be a multiple of 1024 from 1024 to 16384, not " +
                          std::to_string(o.block_size));
    }
    if (o.chain_copies < 2 || o.chain_copies > 5) {
        throw error_range("chain copies must be 2 to 5, not " + std::to_string(o.chain_copies));
    }
    if (o.blocks < minimum_blocks(o.chain_copies)) {
        throw error_range("a database needs at least " +
                          std::to_string(minimum_blocks(o.chain_copies)) + " blocks");
    }
}

}  // namespace

uint64_t database_file_size(const NewDatabase& o) {
    // The file's last block lies outside the database.
    return (uint64_t{o.blocks} + 1) * o.block_size;
}

void create_database(const NewDatabase& o) {
    validate(o);
    platform::OpenedFile file =
        platform::create_random_access_file(o.path, database_file_size(o), o.replace);
    if (!file.file) {
        util::raise_system_error("Cannot create " + o.path, file.error);
    }
    BackingStore store(std::move(file.file), o.path);
    format_database(store, o);
}

void format_database(BackingStore& store, const NewDatabase& o) {
    validate(o);
    const uint32_t n = o.chain_copies;
    const uint32_t lblock_zero_block = 1 + 4 * n;
    std::vector<uint32_t> first_dblocks;
    std::vector<uint8_t> blocks(size_t{lblock_zero_block} * o.block_size, 0);
    for (ChainKind kind : all_chain_kinds) {
        for (uint32_t copy = 0; copy < n; ++copy) {
            const uint32_t block = 1 + static_cast<uint32_t>(kind) * n + copy;
            first_dblocks.push_back(block);
            uint8_t* p = blocks.data() + size_t{block} * o.block_size;
            format_pointer_block(p, o.block_size, kind, copy, 0, 0);
            if (kind == ChainKind::lblock) {
                // Lblock 0 means "none": reserve it so no series gets it.
                put_lblock_entry(p, 0, {lblock_zero_block, 1, 0, 0});
            }
        }
    }
    const std::vector<uint8_t> header = Header::make(o.block_size, n, first_dblocks);
    std::copy(header.begin(), header.end(), blocks.begin());

    store.set_block_size(o.block_size);
    store.btb_WriteFile(0, blocks);
    store.sync_writes();
}

}  // namespace tsdb
