// The records of one level of a fixed-size record type (continuous and enum
// data) as an array: record i lies at head + i * size, wrapping at the
// level's end. Levels are written in time order, so a time can be found by
// bisection, and a range is read in chunks of whole blocks, one read call
// each, and decoded in place.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tsdb/error.h"
#include "tsdb/file/backing_store.h"
#include "tsdb/file/database.h"
#include "tsdb/file/lblock_cursor.h"
#include "tsdb/record.h"
#include "util/bytes.h"

namespace tsdb {

inline void decode_into(const uint8_t* in, continuous_record_t& out) {
    out = decode_continuous(in);
}
inline void decode_into(const uint8_t* in, enum_record_t& out) { out = decode_enum(in); }

template <typename Record>
class FixedSizeLevel {
public:
    FixedSizeLevel(Database& db, uint32_t lblock) : FixedSizeLevel(db.store(), db.level(lblock)) {}
    FixedSizeLevel(BackingStore& store, const LevelView& level)
        : store_(store),
          level_(level.entry),
          cursor_(store, level.entry),
          size_(level.size),
          head_(level.head),
          used_(level.used()),
          count_(used_ / unit) {}

    uint32_t count() const { return count_; }

    // Record i's timestart and end.
    std::pair<uint64_t, uint64_t> span(uint32_t i) {
        uint8_t bytes[8];
        cursor_.read(bytes, position(i), sizeof bytes);
        const uint32_t start = util::load_be32(bytes);
        return {start, uint64_t{start} + util::load_be32(bytes + 4)};
    }

    // The first record for which `reached(span)` holds, count() if none;
    // `reached` must turn from false to true once along the level, near
    // the record that starts at `near`. Records usually come evenly spaced:
    // the search guesses from the first and last start, gallops out from
    // the guess until it brackets the answer, then bisects.
    template <typename Reached>
    uint32_t first(uint64_t near, Reached&& reached) {
        if (count_ == 0) {
            return 0;
        }
        uint32_t low = 0;
        uint32_t high = count_;
        const uint32_t guess = guessed_index(near);
        if (reached(span(guess))) {
            high = guess;
            for (uint32_t step = 1; high > 0; step *= 2) {
                const uint32_t probe = high > step ? high - step : 0;
                if (!reached(span(probe))) {
                    low = probe + 1;
                    break;
                }
                high = probe;
            }
        } else {
            low = guess + 1;
            for (uint32_t step = 1; low < count_; step *= 2) {
                const uint32_t probe =
                    static_cast<uint32_t>(std::min<uint64_t>(uint64_t{low} + step - 1, count_ - 1));
                if (reached(span(probe))) {
                    high = probe;
                    break;
                }
                low = probe + 1;
            }
        }
        while (low < high) {
            const uint32_t middle = low + (high - low) / 2;
            if (reached(span(middle))) {
                high = middle;
            } else {
                low = middle + 1;
            }
        }
        return low;
    }

    // Visits the records from i on until `visit` returns false. A partial
    // record at the tail is damage: tsdb::error_need_repair once reached.
    template <typename Visit>
    void visit_from(uint32_t i, Visit&& visit) {
        for (uint32_t n = 0; i < count_; i += n) {
            n = std::min(count_ - i, chunk_records);
            const uint8_t* bytes = read_bytes(position(i), n * unit);
            for (uint32_t k = 0; k < n; ++k) {
                Record r;
                decode_into(bytes + size_t{k} * unit, r);
                if (!visit(r)) {
                    return;
                }
            }
        }
        if (used_ % unit != 0) {
            throw error_need_repair("Partial record of " + std::to_string(used_ % unit) +
                                    " bytes at level position " + std::to_string(position(count_)));
        }
    }

private:
    static constexpr uint32_t unit = Record::size;
    static constexpr uint32_t chunk_records = 2048;

    // The level's bytes from `at` on: the blocks they lie in read in one
    // call where they do not wrap at the level's end.
    const uint8_t* read_bytes(uint32_t at, uint32_t n) {
        const uint32_t block_size = store_.block_size();
        if (!chunk_) {
            // Whole blocks around a chunk of records; left uninitialised,
            // since every byte used is read first.
            chunk_ = std::make_unique_for_overwrite<uint8_t[]>(chunk_records * unit +
                                                               2 * size_t{block_size});
        }
        if (at + uint64_t{n} > size_) {
            cursor_.read(chunk_.get(), at, n);
            return chunk_.get();
        }
        const uint32_t first = at / block_size;
        const uint32_t blocks = (at + n - 1) / block_size - first + 1;
        store_.btb_ReadFile({chunk_.get(), size_t{blocks} * block_size},
                            level_.first_dblock + first);
        return chunk_.get() + at % block_size;
    }

    // Where a record starting at `t` would be if the records were evenly spaced.
    uint32_t guessed_index(uint64_t t) {
        const uint64_t first_start = span(0).first;
        const uint64_t last_start = span(count_ - 1).first;
        if (t <= first_start || last_start <= first_start) {
            return 0;
        }
        if (t >= last_start) {
            return count_ - 1;
        }
        return static_cast<uint32_t>((t - first_start) * (count_ - 1) / (last_start - first_start));
    }

    uint32_t position(uint32_t i) const {
        return static_cast<uint32_t>((head_ + uint64_t{i} * unit) % size_);
    }

    BackingStore& store_;
    lblock_entry_t level_;
    LblockCursor cursor_;
    uint32_t size_;
    uint32_t head_;
    uint32_t used_;
    uint32_t count_;
    std::unique_ptr<uint8_t[]> chunk_;
};

}  // namespace tsdb
