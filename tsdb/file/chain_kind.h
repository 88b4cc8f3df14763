// The four kinds of pointer chain and what distinguishes them on disk.
// Inherited names: an LBlock is a level (a ring of consecutive dblocks, the
// file's blocks, holding one resolution of a series), a Check is a series,
// and the Head and Tail chains hold each level's ring positions.
#pragma once

#include <array>
#include <cstdint>

namespace tsdb {

enum class ChainKind : uint32_t { head = 0, tail = 1, lblock = 2, check = 3 };

inline constexpr std::array<ChainKind, 4> all_chain_kinds = {ChainKind::head, ChainKind::tail,
                                                             ChainKind::lblock, ChainKind::check};

struct ChainKindInfo {
    uint32_t magic;
    uint32_t entry_size;         // bytes
    const char* name;            // "Head", "Tail", "LBlock", "Check"
    const char* lower_name;      // "head", "tail", "lblock", "check"
    const char* bad_magic_text;  // before the block number
};

constexpr ChainKindInfo chain_kind_info(ChainKind kind) {
    switch (kind) {
        case ChainKind::head:
            return {0x48454144, 4, "Head", "head", "H/T pointer block has bad magic at dblock "};
        case ChainKind::tail:
            return {0x5441494C, 4, "Tail", "tail", "H/T pointer block has bad magic at dblock "};
        case ChainKind::lblock:
            return {0x4C42414C, 16, "LBlock", "lblock",
                    "LBlock pointer block has bad magic at dblock "};
        case ChainKind::check:
            break;
    }
    return {0x4348434B, 8, "Check", "check", "CBlock pointer block has bad magic at dblock "};
}

constexpr uint32_t pointer_block_header_size = 16;

constexpr uint32_t entries_per_block(ChainKind kind, uint32_t block_size) {
    return (block_size - pointer_block_header_size) / chain_kind_info(kind).entry_size;
}

}  // namespace tsdb
