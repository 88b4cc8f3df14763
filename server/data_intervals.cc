#include "server/data_intervals.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "error/anomaly.h"
#include "error/exception.h"

namespace server {

namespace {

using tsdb::data_interval_continuous_t;
using tsdb::data_interval_enum_t;
using tsdb::data_interval_incident_t;
using tsdb::interval_list;

template <typename Record>
int64_t end_of(const Record& r) {
    return int64_t{r.timestart} + r.duration;
}

// The records that overlap no earlier one, in order.
template <typename Record>
std::vector<const Record*> taken(const std::vector<Record>& records) {
    std::vector<const Record*> kept;
    int64_t running_end = 0;
    for (const Record& r : records) {
        if (r.timestart >= running_end) {
            kept.push_back(&r);
            running_end = end_of(r);
        }
    }
    return kept;
}

// b - a in two's complement: a peer may send any range, and the result of
// one that does not fit is the wrapped one, not undefined.
int64_t difference(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(b) - static_cast<uint64_t>(a));
}

// A time computed in floating point, cut to a whole second; values with no
// such time (not a number, beyond the range) become 0.
int64_t truncated(double t) {
    return std::isfinite(t) && std::fabs(t) < 9.2e18 ? static_cast<int64_t>(t) : 0;
}

int64_t width(const read_shape_t& shape) {
    return difference(shape.start, shape.end) / (shape.count == 0 ? 50 : int64_t{shape.count});
}

// The value form: an interval of the records within one width, its
// average kept as a running sum until it closes.
class ValueInterval {
public:
    ValueInterval(const tsdb::continuous_record_t& r, bool empty_rule) : empty_rule_(empty_rule) {
        i_.start = r.timestart;
        i_.end = end_of(r);
        i_.ngood = r.ngood;
        i_.nbad = r.nbad;
        if (r.ngood > 0 || !empty_rule) {
            i_.min = r.min;
            i_.max = r.max;
            sum_ = static_cast<float>(r.ngood) * r.avg;
        } else {
            i_.min = i_.max = -1.0f;
        }
    }
    int64_t start() const { return i_.start; }
    void merge(const tsdb::continuous_record_t& r) {
        if (!empty_rule_ || (r.ngood != 0 && i_.ngood > 0)) {
            i_.min = std::min(i_.min, r.min);
            i_.max = std::max(i_.max, r.max);
            sum_ += static_cast<float>(r.ngood) * r.avg;
        } else if (r.ngood != 0) {
            i_.min = r.min;
            i_.max = r.max;
            sum_ = static_cast<float>(r.ngood) * r.avg;
        }
        i_.end = end_of(r);
        i_.ngood += r.ngood;
        i_.nbad += r.nbad;
    }
    std::unique_ptr<data_interval_continuous_t> close() {
        i_.avg = i_.ngood != 0 ? sum_ / static_cast<float>(i_.ngood) : sum_;
        if (i_.avg > i_.max) {
            i_.avg = i_.max;
        } else if (i_.min > i_.avg) {
            i_.avg = i_.min;
        }
        return std::make_unique<data_interval_continuous_t>(i_);
    }

private:
    bool empty_rule_;
    data_interval_continuous_t i_;
    float sum_ = 0;
};

interval_list value_form(const std::vector<const tsdb::continuous_record_t*>& records, int64_t w,
                         bool empty_rule) {
    interval_list out;
    std::optional<ValueInterval> current;
    for (const tsdb::continuous_record_t* r : records) {
        if (current && end_of(*r) - current->start() > w) {
            out.items.push_back(current->close());
            current.reset();
        }
        if (current) {
            current->merge(*r);
        } else {
            current.emplace(*r, empty_rule);
        }
    }
    if (current) {
        out.items.push_back(current->close());
    }
    return out;
}

// The span form: a counter that grows while a system is up (min at the
// start of a record's span, max at its end) read as spans of operation.
interval_list span_form(const std::vector<const tsdb::continuous_record_t*>& records) {
    std::vector<data_interval_continuous_t> spans;
    int64_t lower = 0;
    bool open = false;
    const auto open_from = [&](const tsdb::continuous_record_t& r) {
        const int64_t r_end = end_of(r);
        data_interval_continuous_t i;
        i.start = std::max(lower, truncated(static_cast<double>(r_end) - r.max));
        i.end = r_end;
        i.max = r.max;
        i.ngood = r.ngood;
        i.nbad = r.nbad;
        lower = r_end;
        spans.push_back(i);
        open = true;
    };
    for (const tsdb::continuous_record_t* r : records) {
        if (r->ngood == 0) {
            continue;
        }
        if (!open) {
            open_from(*r);
            continue;
        }
        data_interval_continuous_t& i = spans.back();
        const double tolerance = static_cast<double>(difference(i.start, i.end)) * 0.1 + 120.0;
        if (static_cast<double>(r->timestart) - r->min > static_cast<double>(i.start) + tolerance) {
            const float x = (r->max - i.max) + static_cast<float>(i.end);
            if (static_cast<double>(i.end) - i.max >= static_cast<double>(r->timestart) - r->max &&
                static_cast<float>(end_of(*r)) > x) {
                i.end = truncated(x);
                lower = i.end;
                i.ngood += r->ngood;
                i.nbad += r->nbad;
                open = false;
            } else {
                open_from(*r);
            }
        } else {
            i.end = end_of(*r);
            lower = i.end;
            i.max = r->max;
            i.ngood += r->ngood;
            i.nbad += r->nbad;
        }
    }
    interval_list out;
    for (data_interval_continuous_t& i : spans) {
        if (i.start > i.end) {
            continue;
        }
        i.min = 0;
        i.max = static_cast<float>(difference(i.start, i.end));
        i.avg = i.max * 0.5f;
        out.items.push_back(std::make_unique<data_interval_continuous_t>(i));
    }
    return out;
}

std::unique_ptr<data_interval_continuous_t> raw_continuous(const tsdb::continuous_record_t& r) {
    return std::make_unique<data_interval_continuous_t>(r.timestart, end_of(r), r.min, r.avg, r.max,
                                                        r.ngood, r.nbad);
}

const char* class_name(const tsdb::data_interval_t* i) {
    if (i == nullptr) {
        return "(null)";
    }
    switch (i->kind()) {
        case tsdb::interval_incident:
            return "tsdb::data_interval_incident_t";
        case tsdb::interval_continuous:
            return "tsdb::data_interval_continuous_t";
        default:
            return "tsdb::data_interval_enum_t";
    }
}

template <typename Interval>
const Interval& checked_cast(const tsdb::data_interval_t* i, const char* expected) {
    const auto* typed = dynamic_cast<const Interval*>(i);
    if (typed == nullptr) {
        throw errors::db_anomaly(std::string("checked_cast failed, ") + class_name(i) +
                                 " should have been " + expected);
    }
    return *typed;
}

uint32_t as_u32(int64_t t) { return static_cast<uint32_t>(t); }

}  // namespace

interval_list continuous_intervals(int32_t data_type,
                                   const std::vector<tsdb::continuous_record_t>& records,
                                   const read_shape_t& shape) {
    const auto kept = taken(records);
    if (shape.raw) {
        interval_list out;
        for (const tsdb::continuous_record_t* r : kept) {
            out.items.push_back(raw_continuous(*r));
        }
        return out;
    }
    if (data_type == data_span) {
        return span_form(kept);
    }
    return value_form(kept, width(shape), data_type == data_float);
}

interval_list enum_intervals(const std::vector<tsdb::enum_record_t>& records,
                             const read_shape_t& shape) {
    interval_list out;
    const int64_t w = width(shape);
    data_interval_enum_t* current = nullptr;
    for (const tsdb::enum_record_t* r : taken(records)) {
        if (current != nullptr && !shape.raw && end_of(*r) - current->start <= w) {
            current->end = end_of(*r);
            current->ngood += r->ngood;
            current->nbad += r->nbad;
            current->mask |= r->mask;
            continue;
        }
        auto i = std::make_unique<data_interval_enum_t>(r->mask, r->ngood, r->nbad, r->timestart,
                                                        end_of(*r));
        current = i.get();
        out.items.push_back(std::move(i));
    }
    return out;
}

interval_list incident_intervals(const std::vector<tsdb::incident_record_t>& records,
                                 const read_shape_t& shape) {
    interval_list out;
    for (const tsdb::incident_record_t* r : taken(records)) {
        out.items.push_back(
            std::make_unique<data_interval_incident_t>(r->severity, r->text, r->timestart));
    }
    const auto n = static_cast<uint32_t>(out.size());
    if (shape.raw || n == 0) {
        return out;
    }
    const uint32_t c = shape.count;
    const auto given = static_cast<uint32_t>(shape.offset);
    const uint32_t o = n <= given ? n - 1 : given;
    const uint32_t x = n > o + c ? n - o - c : 0;
    const uint32_t newest = shape.end != -1 ? o : x;
    const uint32_t oldest = shape.end != -1 ? x : o;
    auto& items = out.items;
    items.erase(items.end() - std::min<ptrdiff_t>(newest, static_cast<ptrdiff_t>(items.size())),
                items.end());
    items.erase(items.begin(),
                items.begin() + std::min<ptrdiff_t>(oldest, static_cast<ptrdiff_t>(items.size())));
    return out;
}

std::vector<tsdb::continuous_record_t> continuous_records(int32_t data_type,
                                                          const interval_list& intervals) {
    std::vector<tsdb::continuous_record_t> records;
    for (const auto& element : intervals.items) {
        if (data_type == data_float &&
            dynamic_cast<const data_interval_continuous_t*>(element.get()) == nullptr) {
            throw error::EFatal("dbms_tsdb_convert<DataFloat> got non-continuous data");
        }
        const auto& i = checked_cast<data_interval_continuous_t>(
            element.get(), "tsdb::data_interval_continuous_t");
        records.push_back({as_u32(i.start), as_u32(difference(i.start, i.end)), i.ngood, i.nbad,
                           i.min, i.max, i.avg});
    }
    return records;
}

std::vector<tsdb::enum_record_t> enum_records(const interval_list& intervals) {
    std::vector<tsdb::enum_record_t> records;
    for (const auto& element : intervals.items) {
        const auto& i =
            checked_cast<data_interval_enum_t>(element.get(), "tsdb::data_interval_enum_t");
        records.push_back(
            {as_u32(i.start), as_u32(difference(i.start, i.end)), i.ngood, i.nbad, i.mask});
    }
    return records;
}

std::vector<tsdb::incident_record_t> incident_records(const interval_list& intervals) {
    std::vector<tsdb::incident_record_t> records;
    for (const auto& element : intervals.items) {
        const auto& i =
            checked_cast<data_interval_incident_t>(element.get(), "tsdb::data_interval_incident_t");
        records.push_back({as_u32(i.itime), 0, i.sev, i.msg});
    }
    return records;
}

}  // namespace server
