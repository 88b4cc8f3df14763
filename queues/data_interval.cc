#include "queues/data_interval.h"

#include <algorithm>
#include <bit>
#include <span>

#include "error/exception.h"
#include "queues/codec.h"
#include "util/bytes.h"
#include "util/time_text.h"

namespace tsdb {

namespace {

using protocol::float_text;
using util::time_text;

// The fixed-size kinds are encoded in one piece each: the kind word, then
// the fields, little-endian.
constexpr size_t continuous_bytes = 4 + 8 + 8 + 4 + 4 + 4 + 4 + 4;
constexpr size_t enum_bytes = 4 + 4 + 4 + 4 + 8 + 8;
static_assert(continuous_bytes <= protocol::ioprim::max_encoded &&
              enum_bytes <= protocol::ioprim::max_encoded);

void encode(const data_interval_continuous_t& c, uint8_t* out) {
    util::store_le32(out, interval_continuous);
    util::store_le64(out + 4, static_cast<uint64_t>(c.start));
    util::store_le64(out + 12, static_cast<uint64_t>(c.end));
    util::store_le32(out + 20, std::bit_cast<uint32_t>(c.min));
    util::store_le32(out + 24, std::bit_cast<uint32_t>(c.avg));
    util::store_le32(out + 28, std::bit_cast<uint32_t>(c.max));
    util::store_le32(out + 32, c.ngood);
    util::store_le32(out + 36, c.nbad);
}

void encode(const data_interval_enum_t& e, uint8_t* out) {
    util::store_le32(out, interval_enum);
    util::store_le32(out + 4, e.mask);
    util::store_le32(out + 8, e.ngood);
    util::store_le32(out + 12, e.nbad);
    util::store_le64(out + 16, static_cast<uint64_t>(e.start));
    util::store_le64(out + 24, static_cast<uint64_t>(e.end));
}

void write_interval(protocol::ioprim& io, const data_interval_t* i) {
    switch (i == nullptr ? interval_none : i->kind()) {
        case interval_continuous:
            io.write_encoded(continuous_bytes, [i](uint8_t* out) {
                encode(static_cast<const data_interval_continuous_t&>(*i), out);
            });
            break;
        case interval_enum:
            io.write_encoded(enum_bytes, [i](uint8_t* out) {
                encode(static_cast<const data_interval_enum_t&>(*i), out);
            });
            break;
        case interval_incident: {
            const auto& n = static_cast<const data_interval_incident_t&>(*i);
            io.write_u32(interval_incident);
            io.write_u32(n.sev);
            io.write_string(n.msg);
            io.write_i64(n.itime);
            break;
        }
        default:
            io.write_u32(interval_none);
    }
}

std::unique_ptr<data_interval_t> read_interval(protocol::ioprim& io) {
    uint8_t b[continuous_bytes];
    switch (io.read_u32()) {
        case interval_continuous:
            io.read_bytes(std::span(b).subspan(4, continuous_bytes - 4));
            return std::make_unique<data_interval_continuous_t>(
                static_cast<int64_t>(util::load_le64(b + 4)),
                static_cast<int64_t>(util::load_le64(b + 12)),
                std::bit_cast<float>(util::load_le32(b + 20)),
                std::bit_cast<float>(util::load_le32(b + 24)),
                std::bit_cast<float>(util::load_le32(b + 28)), util::load_le32(b + 32),
                util::load_le32(b + 36));
        case interval_enum:
            io.read_bytes(std::span(b).subspan(4, enum_bytes - 4));
            return std::make_unique<data_interval_enum_t>(
                util::load_le32(b + 4), util::load_le32(b + 8), util::load_le32(b + 12),
                static_cast<int64_t>(util::load_le64(b + 16)),
                static_cast<int64_t>(util::load_le64(b + 24)));
        case interval_incident: {
            auto n = std::make_unique<data_interval_incident_t>();
            n->sev = io.read_u32();
            n->msg = io.read_string();
            n->itime = io.read_i64();
            return n;
        }
        default:
            return nullptr;
    }
}

bool has_time_before_1970(const data_interval_t& i) {
    if (const auto* c = dynamic_cast<const data_interval_continuous_t*>(&i)) {
        return c->start < 0 || c->end < 0;
    }
    if (const auto* e = dynamic_cast<const data_interval_enum_t*>(&i)) {
        return e->start < 0 || e->end < 0;
    }
    return static_cast<const data_interval_incident_t&>(i).itime < 0;
}

std::string text_or_failure(const data_interval_t& i) {
    try {
        return i.text();
    } catch (const error::Exception& e) {
        return "(kind " + std::to_string(i.kind()) + ": " + e.text() + ")";
    }
}

}  // namespace

// The quote after "end: " is never closed: that is the form.
std::string data_interval_continuous_t::text() const {
    return "(t: continuous)(start: " + time_text(start) + ")(end: \"" + time_text(end) +
           ")(min: " + float_text(min) + ")(avg: " + float_text(avg) + ")(max: " + float_text(max) +
           ")(ngood: " + std::to_string(ngood) + ")(nbad: " + std::to_string(nbad) + ")";
}

std::string data_interval_enum_t::text() const {
    return "(t: enum)(start: " + time_text(start) + ")(end: \"" + time_text(end) +
           ")(mask: " + std::to_string(mask) + ")(ngood: " + std::to_string(ngood) +
           ")(nbad: " + std::to_string(nbad) + ")";
}

std::string data_interval_incident_t::text() const {
    return "(t: incident)(sev: " + std::to_string(sev) + ")(msg: \"" + msg +
           "\")(itime: " + time_text(itime) + ")";
}

interval_list::interval_list(const interval_list& other) { *this = other; }

interval_list& interval_list::operator=(const interval_list& other) {
    if (this != &other) {
        items.clear();
        for (const auto& i : other.items) {
            items.push_back(i ? i->clone() : nullptr);
        }
    }
    return *this;
}

void interval_list::write_to(protocol::ioprim& io) const {
    io.write_u32(static_cast<uint32_t>(items.size()));
    for (const auto& i : items) {
        write_interval(io, i.get());
    }
}

void interval_list::read_from(protocol::ioprim& io) {
    items.clear();
    const uint32_t count = io.read_count();
    // Room for what can have arrived, not for what a count claims.
    items.reserve(std::min<uint32_t>(count, 1u << 16));
    for (uint32_t n = count; n > 0; --n) {
        items.push_back(read_interval(io));
    }
}

// Times before 1970 have no text form; a trace shows such an interval by
// its kind alone rather than stop the process.
void interval_list::print_to(std::ostream& out, unsigned level) const {
    out << "vector {\n";
    for (const auto& i : items) {
        out << protocol::indent(level + 1);
        if (!i) {
            out << "(empty)\n";
        } else if (has_time_before_1970(*i)) {
            out << "(kind " << i->kind() << " with a time before 1970)\n";
        } else {
            out << text_or_failure(*i) << "\n";
        }
    }
    out << protocol::indent(level) << "}\n";
}

}  // namespace tsdb
