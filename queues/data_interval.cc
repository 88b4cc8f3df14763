#include "queues/data_interval.h"

#include "error/exception.h"
#include "queues/codec.h"
#include "util/time_text.h"

namespace tsdb {

namespace {

using protocol::float_text;
using util::time_text;

void write_interval(protocol::ioprim& io, const data_interval_t* i) {
    io.write_u32(i != nullptr ? i->kind() : interval_none);
    if (const auto* c = dynamic_cast<const data_interval_continuous_t*>(i)) {
        io.write_i64(c->start);
        io.write_i64(c->end);
        io.write_f32(c->min);
        io.write_f32(c->avg);
        io.write_f32(c->max);
        io.write_u32(c->ngood);
        io.write_u32(c->nbad);
    } else if (const auto* e = dynamic_cast<const data_interval_enum_t*>(i)) {
        io.write_u32(e->mask);
        io.write_u32(e->ngood);
        io.write_u32(e->nbad);
        io.write_i64(e->start);
        io.write_i64(e->end);
    } else if (const auto* n = dynamic_cast<const data_interval_incident_t*>(i)) {
        io.write_u32(n->sev);
        io.write_string(n->msg);
        io.write_i64(n->itime);
    }
}

std::unique_ptr<data_interval_t> read_interval(protocol::ioprim& io) {
    switch (io.read_u32()) {
        case interval_continuous: {
            auto c = std::make_unique<data_interval_continuous_t>();
            c->start = io.read_i64();
            c->end = io.read_i64();
            c->min = io.read_f32();
            c->avg = io.read_f32();
            c->max = io.read_f32();
            c->ngood = io.read_u32();
            c->nbad = io.read_u32();
            return c;
        }
        case interval_enum: {
            auto e = std::make_unique<data_interval_enum_t>();
            e->mask = io.read_u32();
            e->ngood = io.read_u32();
            e->nbad = io.read_u32();
            e->start = io.read_i64();
            e->end = io.read_i64();
            return e;
        }
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
    for (uint32_t n = io.read_u32(); n > 0; --n) {
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
