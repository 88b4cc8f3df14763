// The zero-copy streams that the transports implement. A reader is handed a
// readable area and says how much of it it consumed; a writer is handed a
// writable area and says how much of it it filled.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/selectable.h"

namespace io {

template <typename Byte>
struct Area {
    Byte* data = nullptr;
    size_t size = 0;
};

// Ready when there are bytes to read or an end to report.
class IStream : public virtual Selectable {
public:
    // The bytes available now; an empty area (or io::ENotReady) when there
    // are none yet, io::EEndOfStream when the stream has ended.
    virtual Area<const uint8_t> readBegin() = 0;
    // n bytes from the start of the last area were consumed.
    virtual void readCommit(size_t n) = 0;
};

// Ready when there is room to write.
class OStream : public virtual Selectable {
public:
    // Room to write now; an empty area when there is none yet.
    virtual Area<uint8_t> writeBegin() = 0;
    // n bytes from the start of the last area were filled.
    virtual void writeCommit(size_t n) = 0;
    // Pushes the committed bytes on toward the reader.
    virtual void flush() = 0;
};

}  // namespace io
