#include "io/control_message.h"

#include "error/assert.h"
#include "util/bytes.h"

namespace io {

namespace {

constexpr uint32_t tag_of(ControlType type) {
    switch (type) {
        case ControlType::MessageAt:
            return 1;
        case ControlType::AckMessageAt:
            return 2;
        case ControlType::ExtraOffset:
            return 3;
        case ControlType::ExtraSize:
            return 4;
        default:
            return 0;
    }
}

constexpr uint32_t code_of(ControlType type) {
    switch (type) {
        case ControlType::RequestPeer:
            return 0;
        case ControlType::IAmUp:
            return 16;
        case ControlType::SiblingAt:
            return 24;
        case ControlType::InitShutdown:
            return 32;
        case ControlType::AckShutdown:
            return 40;
        case ControlType::ExtraSiblingId:
            return 48;
        case ControlType::SiblingDied:
            return 56;
        default:
            return 8;
    }
}

const char* name_of(ControlType type) {
    static constexpr const char* names[] = {
        "Undefined", "MessageAt", "AckMessageAt", "ExtraOffset", "ExtraSize",      "RequestPeer",
        "IAmUp",     "SiblingAt", "InitShutdown", "AckShutdown", "ExtraSiblingId", "SiblingDied"};
    return names[static_cast<uint32_t>(type)];
}

}  // namespace

ControlMessage ControlMessage::valued(ControlType type, uint64_t value, int32_t from) {
    error::require(tag_of(type) != 0 && value % 8 == 0 && value < (uint64_t{1} << 32),
                   "Control value must be a multiple of 8 below 2^32");
    return {static_cast<uint32_t>(value) | tag_of(type), static_cast<uint32_t>(from)};
}

ControlMessage ControlMessage::about(ControlType type, int32_t sibling, int32_t from) {
    error::require(tag_of(type) == 0, "Control message of a tagged type about a sibling");
    return {(static_cast<uint32_t>(sibling) << 8) | code_of(type), static_cast<uint32_t>(from)};
}

ControlType ControlMessage::type() const {
    switch (word & 7) {
        case 0:
            break;
        case 1:
            return ControlType::MessageAt;
        case 2:
            return ControlType::AckMessageAt;
        case 3:
            return ControlType::ExtraOffset;
        case 4:
            return ControlType::ExtraSize;
        default:
            return ControlType::Undefined;
    }
    switch (word & 0xFF) {
        case 0:
            return ControlType::RequestPeer;
        case 16:
            return ControlType::IAmUp;
        case 24:
            return ControlType::SiblingAt;
        case 32:
            return ControlType::InitShutdown;
        case 40:
            return ControlType::AckShutdown;
        case 48:
            return ControlType::ExtraSiblingId;
        case 56:
            return ControlType::SiblingDied;
        default:
            return ControlType::Undefined;
    }
}

void ControlMessage::encode(uint8_t* out) const {
    util::store_le32(out, word);
    util::store_le32(out + 4, from);
}

ControlMessage ControlMessage::decode(const uint8_t* in) {
    return {util::load_le32(in), util::load_le32(in + 4)};
}

std::string ControlMessage::text() const {
    const ControlType t = type();
    const std::string suffix = " [from:" + std::to_string(from) + "]";
    if (t == ControlType::Undefined) {
        return "Undefined" + suffix;
    }
    const std::string value_text =
        tag_of(t) != 0 ? std::to_string(value()) : std::to_string(sibling());
    return std::string(name_of(t)) + "(" + value_text + ")" + suffix;
}

}  // namespace io
