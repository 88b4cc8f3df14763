#include "meter/metric.h"

#include "error/assert.h"

namespace meter {

namespace {

struct Registry {
    bool active = false;
    std::vector<Group*> pending_groups;
    std::vector<Metric*> pending_metrics;
};

Registry& registry() {
    static Registry the_registry;
    return the_registry;
}

Group& parent_or_root(Group* parent) { return parent != nullptr ? *parent : Group::root(); }

}  // namespace

Object::Object(Group* parent, std::string name) : parent_(parent), name_(std::move(name)) {}

Metric::Metric(Group* parent, std::string name, std::string unit, std::string desc)
    : Object(parent, std::move(name)), unit_(std::move(unit)), desc_(std::move(desc)) {
    if (registry().active) {
        parent_or_root(parent).add(this);
    } else {
        registry().pending_metrics.push_back(this);
    }
}

Group::Group(RootTag) : Object(nullptr, "") {}

Group::Group(Group* parent, std::string name) : Object(parent, std::move(name)) {
    if (registry().active) {
        parent_or_root(parent).add(this);
    } else {
        registry().pending_groups.push_back(this);
    }
}

Group& Group::root() {
    static Group the_root{RootTag{}};
    return the_root;
}

void Group::take_name(const Object& child) {
    if (!children_.emplace(child.name(), &child).second) {
        error::assertion_failed("Attempt to add duplicate metric name: " + child.name());
    }
}

void Group::add(Group* group) {
    take_name(*group);
    groups_.push_back(group);
}

void Group::add(Metric* metric) {
    take_name(*metric);
    metrics_.push_back(metric);
}

const Object* Group::child(const std::string& name) const {
    const auto found = children_.find(name);
    return found == children_.end() ? nullptr : found->second;
}

void Timing::record(uint64_t sample) {
    ++n_;
    sum_ += sample;
    sum_squares_ += sample * sample;
    min_ = std::min(min_, sample);
    max_ = std::max(max_, sample);
}

void activate_metering() {
    Registry& r = registry();
    r.active = true;
    for (auto g = r.pending_groups.rbegin(); g != r.pending_groups.rend(); ++g) {
        parent_or_root((*g)->parent()).add(*g);
    }
    for (auto m = r.pending_metrics.rbegin(); m != r.pending_metrics.rend(); ++m) {
        parent_or_root((*m)->parent()).add(*m);
    }
    r.pending_groups.clear();
    r.pending_metrics.clear();
}

bool metering_active() { return registry().active; }

}  // namespace meter
