#include "tools/tsdbctl/series_reads.h"

#include "tools/interval_rows.h"
#include "tools/options.h"

namespace tsdbctl {

tsdb::time_series_layout_t layout_of_existing(parent::TsdbClient& client, uint32_t id) {
    try {
        return client.describe(id);
    } catch (const parent::ERequestFailed&) {
        throw tools::EBadInput("series " + std::to_string(id) +
                               " does not exist (tsdbctl list shows those that do)");
    }
}

uint32_t type_of_existing(parent::TsdbClient& client, uint32_t id) {
    return layout_of_existing(client, id).data_type;
}

tsdb::interval_list every_record(parent::TsdbClient& client, uint32_t id, uint32_t type) {
    return client.get({id, tools::protocol_type(type), 0, true, 0, int64_t{1} << 32, 0, 0});
}

}  // namespace tsdbctl
