#include "tools/tsdbctl/fill.h"

#include <algorithm>
#include <map>

#include "tools/interval_rows.h"
#include "tools/tsdbctl/patch_records.h"
#include "tools/tsdbctl/series_reads.h"
#include "tools/tsdbctl/write_check.h"
#include "util/bytes.h"

namespace tsdbctl {

namespace {

std::unique_ptr<tsdb::data_interval_t> interval_of(const tsdb::continuous_record_t& r) {
    return std::make_unique<tsdb::data_interval_continuous_t>(
        r.timestart, int64_t{r.timestart} + r.duration, r.min, r.avg, r.max, r.ngood, r.nbad);
}
std::unique_ptr<tsdb::data_interval_t> interval_of(const tsdb::enum_record_t& r) {
    return std::make_unique<tsdb::data_interval_enum_t>(r.mask, r.ngood, r.nbad, r.timestart,
                                                        int64_t{r.timestart} + r.duration);
}
std::unique_ptr<tsdb::data_interval_t> interval_of(const tsdb::incident_record_t& r) {
    return std::make_unique<tsdb::data_interval_incident_t>(r.severity, r.text, r.timestart);
}

// The stretches of time taken, by start.
class Taken {
public:
    void add(const tsdb::data_interval_t& i) {
        int64_t& end = until_[span_of(i).start];
        end = std::max(end, occupied_until(i));
    }
    bool overlaps(const tsdb::data_interval_t& i) const {
        const int64_t start = span_of(i).start;
        const auto after = until_.lower_bound(start);
        if (after != until_.end() && after->first < occupied_until(i)) {
            return true;
        }
        return after != until_.begin() && std::prev(after)->second > start;
    }

private:
    std::map<int64_t, int64_t> until_;
};

}  // namespace

void fill_series(parent::TsdbClient& client, uint32_t id, uint32_t type,
                 const std::vector<std::string>& patches) {
    Taken taken;
    for (const auto& held : every_record(client, id, type).items) {
        taken.add(*held);
    }
    tsdb::interval_list added;
    for (const std::string& patch : patches) {
        if (patch.size() < 4 || util::load_be32(util::bytes_of(patch)) != type) {
            throw tools::EBadInput("a patch holds records of another type than the series");
        }
        for_each_patch_record(type, patch, [&](const auto& record) {
            auto interval = interval_of(record);
            if (!taken.overlaps(*interval)) {
                taken.add(*interval);
                added.items.push_back(std::move(interval));
            }
        });
    }
    std::sort(added.items.begin(), added.items.end(),
              [](const auto& a, const auto& b) { return span_of(*a).start < span_of(*b).start; });
    if (added.size() > 0) {
        client.put({queues::queue_main, id, tsdb::PUT_Rebuild, tools::protocol_type(type),
                    std::move(added)});
    }
}

}  // namespace tsdbctl
