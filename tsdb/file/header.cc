#include "tsdb/file/header.h"

#include <string>

#include "tsdb/error.h"
#include "tsdb/file/backing_store.h"
#include "tsdb/file/crc32.h"
#include "util/bytes.h"

namespace tsdb {

uint32_t descriptor_checksum(const uint8_t* descriptor) {
    security::Crc32 crc;
    crc.reset();
    crc.update(descriptor, 12);
    return crc.value();
}

void Header::validate(const uint8_t* block0) {
    if (util::load_be32(block0) != magic) {
        throw error_fubar("Invalid magic in header");
    }
    const uint32_t found_version = util::load_be32(block0 + 4);
    if (found_version != version) {
        throw error_fubar("Unsupported database format version (" + std::to_string(found_version) +
                          ")");
    }
    const uint32_t block_size = block_size_of(block0);
    if (block_size < 1024 || block_size > 16384 || block_size % 1024 != 0) {
        throw error_fubar("Unsupported block size (" + std::to_string(block_size) + ")");
    }
    const uint32_t copies = util::load_be32(block0 + 20);
    if (copies < 2 || copies > 5) {
        throw error_fubar("Invalid number of chains: " + std::to_string(copies));
    }
}

std::vector<uint8_t> Header::make(uint32_t block_size, uint32_t copies,
                                  const std::vector<uint32_t>& first_dblocks) {
    Header header;
    header.buffer_.assign(block_size, 0);
    uint8_t* p = header.buffer_.data();
    util::store_be32(p, magic);
    util::store_be32(p + 4, version);
    util::store_be32(p + 8, block_size);
    util::store_be32(p + 20, copies);
    for (ChainKind kind : all_chain_kinds) {
        for (uint32_t copy = 0; copy < copies; ++copy) {
            header.commit_descriptor(kind, copy, 0,
                                     first_dblocks.at(static_cast<uint32_t>(kind) * copies + copy));
        }
    }
    return header.buffer_;
}

void Header::load(BackingStore& store) {
    buffer_.assign(store.block_size(), 0);
    store.btb_ReadFile(buffer_, 0);
}

bool Header::on_disk(BackingStore& store) const {
    std::vector<uint8_t> now(buffer_.size(), 0);
    store.btb_ReadFile(now, 0);
    return now == buffer_;
}

uint32_t Header::block_size_of(const uint8_t* block0) { return util::load_be32(block0 + 8); }

uint32_t Header::block_size() const { return block_size_of(buffer_.data()); }

uint32_t Header::copies() const { return util::load_be32(buffer_.data() + 20); }

uint32_t Header::offset(ChainKind kind, uint32_t copy) const {
    return descriptors_offset + descriptor_size * (static_cast<uint32_t>(kind) * copies() + copy);
}

uint64_t Header::generation(ChainKind kind, uint32_t copy) const {
    return util::load_be64(buffer_.data() + offset(kind, copy));
}

uint32_t Header::first_dblock(ChainKind kind, uint32_t copy) const {
    return util::load_be32(buffer_.data() + offset(kind, copy) + 8);
}

bool Header::checksum_matches(ChainKind kind, uint32_t copy) const {
    const uint8_t* d = buffer_.data() + offset(kind, copy);
    return util::load_be32(d + 12) == descriptor_checksum(d);
}

void Header::set_generation(ChainKind kind, uint32_t copy, uint64_t generation) {
    util::store_be64(buffer_.data() + offset(kind, copy), generation);
}

void Header::commit_descriptor(ChainKind kind, uint32_t copy, uint64_t generation,
                               uint32_t first_dblock) {
    uint8_t* d = buffer_.data() + offset(kind, copy);
    util::store_be64(d, generation);
    util::store_be32(d + 8, first_dblock);
    util::store_be32(d + 12, descriptor_checksum(d));
}

void Header::write(BackingStore& store) const { store.btb_WriteFile(0, buffer_); }

}  // namespace tsdb
