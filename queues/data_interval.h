// Data on the protocol: intervals, each a span of time with a summary of
// what was measured in it, in three kinds. Lists of intervals own their
// elements; an element may be empty.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "queues/recycled.h"

namespace protocol {
class ioprim;
}

namespace tsdb {

enum : uint32_t {
    interval_none = 0,
    interval_incident = 1,
    interval_continuous = 2,
    interval_enum = 3,
};

class data_interval_t {
public:
    virtual uint32_t kind() const = 0;
    virtual ~data_interval_t() = default;
    virtual std::unique_ptr<data_interval_t> clone() const = 0;
    // One line, e.g. "(t: enum)(start: 2009-03-07 14:05:09)(end: \"...".
    virtual std::string text() const = 0;
};

struct data_interval_continuous_t final : data_interval_t,
                                          queues::Recycled<data_interval_continuous_t> {
    int64_t start = 0;
    int64_t end = 0;
    float min = -1.0f;  // -1 when there is no good value
    float avg = 0;
    float max = 0;
    uint32_t ngood = 0;
    uint32_t nbad = 0;

    data_interval_continuous_t() = default;
    data_interval_continuous_t(int64_t start, int64_t end, float min, float avg, float max,
                               uint32_t ngood, uint32_t nbad)
        : start(start), end(end), min(min), avg(avg), max(max), ngood(ngood), nbad(nbad) {}
    uint32_t kind() const override { return interval_continuous; }
    std::unique_ptr<data_interval_t> clone() const override {
        return std::make_unique<data_interval_continuous_t>(*this);
    }
    std::string text() const override;
};

struct data_interval_enum_t final : data_interval_t, queues::Recycled<data_interval_enum_t> {
    uint32_t mask = 0;
    uint32_t ngood = 0;
    uint32_t nbad = 0;
    int64_t start = 0;
    int64_t end = 0;

    data_interval_enum_t() = default;
    data_interval_enum_t(uint32_t mask, uint32_t ngood, uint32_t nbad, int64_t start, int64_t end)
        : mask(mask), ngood(ngood), nbad(nbad), start(start), end(end) {}
    uint32_t kind() const override { return interval_enum; }
    std::unique_ptr<data_interval_t> clone() const override {
        return std::make_unique<data_interval_enum_t>(*this);
    }
    std::string text() const override;
};

struct data_interval_incident_t final : data_interval_t {
    uint32_t sev = 0;
    std::string msg;
    int64_t itime = 0;

    data_interval_incident_t() = default;
    data_interval_incident_t(uint32_t sev, std::string msg, int64_t itime)
        : sev(sev), msg(std::move(msg)), itime(itime) {}
    uint32_t kind() const override { return interval_incident; }
    std::unique_ptr<data_interval_t> clone() const override {
        return std::make_unique<data_interval_incident_t>(*this);
    }
    std::string text() const override;
};

// A list of owned intervals, copied deeply. On the stream: a u32 count, then
// per element its kind word (0 for an empty element) and its fields; an
// unknown kind reads as an empty element.
class interval_list {
public:
    interval_list() = default;
    interval_list(const interval_list& other);
    interval_list& operator=(const interval_list& other);
    interval_list(interval_list&&) = default;
    interval_list& operator=(interval_list&&) = default;

    std::vector<std::unique_ptr<data_interval_t>> items;

    size_t size() const { return items.size(); }
    void write_to(protocol::ioprim& io) const;
    void read_from(protocol::ioprim& io);
    void print_to(std::ostream& out, unsigned level) const;
};

}  // namespace tsdb
