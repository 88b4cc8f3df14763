// Named counters and timings in groups under one root. Objects made during
// static initialisation wait in pending lists until metering is activated,
// then join their groups, the most recently made first.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace meter {

class Group;

class Object {
public:
    Object(Group* parent, std::string name);
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    Group* parent() const { return parent_; }
    const std::string& name() const { return name_; }

private:
    Group* parent_;
    std::string name_;
};

class Metric : public Object {
public:
    Metric(Group* parent, std::string name, std::string unit, std::string desc);
    virtual uint32_t type() const = 0;
    const std::string& unit() const { return unit_; }
    const std::string& desc() const { return desc_; }

private:
    std::string unit_;
    std::string desc_;
};

class Group : public Object {
public:
    // A group with no parent is a child of the root.
    Group(Group* parent, std::string name);

    // Adds a child; a name already taken by a sibling is an assertion.
    void add(Group* group);
    void add(Metric* metric);

    const std::vector<Group*>& groups() const { return groups_; }
    const std::vector<Metric*>& metrics() const { return metrics_; }
    const Object* child(const std::string& name) const;

    static Group& root();

private:
    struct RootTag {};
    explicit Group(RootTag);
    void take_name(const Object& child);

    std::map<std::string, const Object*> children_;
    std::vector<Group*> groups_;
    std::vector<Metric*> metrics_;
};

class IntegerCounter final : public Metric {
public:
    IntegerCounter(Group* parent, std::string name, std::string desc)
        : Metric(parent, std::move(name), "", std::move(desc)) {}
    uint32_t type() const override { return 2; }

    void increment(uint64_t n = 1) { value_ += n; }
    uint64_t value() const { return value_; }

private:
    uint64_t value_ = 0;
};

class Timing : public Metric {
public:
    using Metric::Metric;
    uint32_t type() const override { return 3; }

    void record(uint64_t sample);
    uint64_t n() const { return n_; }
    uint64_t min() const { return min_; }
    uint64_t max() const { return max_; }
    uint64_t sum() const { return sum_; }
    uint64_t sum_squares() const { return sum_squares_; }

private:
    uint64_t n_ = 0;
    uint64_t min_ = std::numeric_limits<uint64_t>::max();
    uint64_t max_ = 0;
    uint64_t sum_ = 0;
    uint64_t sum_squares_ = 0;
};

class MicroSecondTiming final : public Timing {
public:
    MicroSecondTiming(Group* parent, std::string name, std::string desc)
        : Timing(parent, std::move(name), "us", std::move(desc)) {}
};

class MilliSecondTiming final : public Timing {
public:
    MilliSecondTiming(Group* parent, std::string name, std::string desc)
        : Timing(parent, std::move(name), "ms", std::move(desc)) {}
};

// Adds every pending object to its group; later objects join at once.
void activate_metering();
bool metering_active();

}  // namespace meter
