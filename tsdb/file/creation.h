// Making a new, empty database file: the header, one pointer block for each
// copy of each chain with valid checksums, a reserved lblock 0, and the rest
// free.
#pragma once

#include <cstdint>
#include <string>

namespace tsdb {

class BackingStore;

struct NewDatabase {
    std::string path;
    uint32_t block_size = 4096;
    uint32_t chain_copies = 3;
    uint32_t blocks = 1024;  // the database's block count
    bool replace = false;
};

// Blocks a database needs before it holds any series.
uint32_t minimum_blocks(uint32_t chain_copies);

// Creates the file; throws error::Exception with a one-line reason.
void create_database(const NewDatabase& options);

// The size of the file that holds such a database.
uint64_t database_file_size(const NewDatabase& options);
// Writes the empty database into a store of at least database_file_size() bytes.
void format_database(BackingStore& store, const NewDatabase& options);

}  // namespace tsdb
