#include "queues/control_payloads.h"

namespace control {

namespace {

unsigned depth = 0;

struct Nesting {
    Nesting() {
        if (++depth > Metric_Group::max_depth) {
            --depth;
            throw protocol::EMalformedEvent("fdio >> Metric_Group: nested deeper than " +
                                            std::to_string(Metric_Group::max_depth));
        }
    }
    ~Nesting() { --depth; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;
};

}  // namespace

void Metric_Group::read_from(protocol::ioprim& io) {
    const Nesting nesting;
    protocol::get(io, name);
    protocol::get(io, groups);
    protocol::get(io, tables);
    protocol::get(io, metrics);
}

}  // namespace control
