// Control messages between siblings: 8 bytes on a pipe, a control word and
// the sender's number, both little-endian u32. A word whose low three bits
// (the tag) are set carries an offset or size; with tag 0 its low byte is a
// code and bits 8 to 31 a signed sibling number.
#pragma once

#include <cstdint>
#include <string>

namespace io {

enum class ControlType : uint32_t {
    Undefined = 0,
    MessageAt = 1,
    AckMessageAt = 2,
    ExtraOffset = 3,
    ExtraSize = 4,
    RequestPeer = 5,
    IAmUp = 6,
    SiblingAt = 7,
    InitShutdown = 8,
    AckShutdown = 9,
    ExtraSiblingId = 10,
    SiblingDied = 11,
};

struct ControlMessage {
    uint32_t word = 0;
    uint32_t from = 0;

    static constexpr size_t size = 8;

    // An offset or size (a multiple of 8) with its type.
    static ControlMessage valued(ControlType type, uint64_t value, int32_t from);
    // A sibling-numbered message.
    static ControlMessage about(ControlType type, int32_t sibling, int32_t from);

    ControlType type() const;
    // The offset or size of a tagged word.
    uint64_t value() const { return word & ~uint32_t{7}; }
    // The sibling number of an untagged word.
    int32_t sibling() const { return static_cast<int32_t>(word) >> 8; }

    void encode(uint8_t* out) const;
    static ControlMessage decode(const uint8_t* in);

    // "MessageAt(4096) [from:20]", "Undefined [from:3]".
    std::string text() const;
    bool operator==(const ControlMessage&) const = default;
};

}  // namespace io
