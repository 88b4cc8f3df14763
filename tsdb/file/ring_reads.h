// Reading a run of bytes from a level seen as a ring: the run is split into
// pieces that do not cross the level's end.
#pragma once

#include <algorithm>
#include <cstdint>

#include "tsdb/error.h"

namespace tsdb {

// Calls piece(done, position, n) for each piece, `done` being the bytes of
// the run before it; returns the position after the run.
template <typename Piece>
uint32_t read_ring_pieces(uint32_t size, uint32_t position, uint32_t length, Piece&& piece) {
    for (uint32_t done = 0; done < length;) {
        if (position >= size) {
            throw error_internal("Read beyond end of lblock");
        }
        const uint32_t n = std::min(size - position, length - done);
        piece(done, position, n);
        done += n;
        position += n;
        if (position == size) {
            position = 0;
        }
    }
    return position;
}

}  // namespace tsdb
