#include "tools/tsdbctl/series_reads.h"

#include "tools/interval_rows.h"
#include "tools/options.h"

namespace tsdbctl {

uint32_t type_of_existing(parent::TsdbClient& client, uint32_t id) {
    try {
        return client.describe(id).data_type;
    } catch (const parent::ERequestFailed&) {
        throw tools::EBadInput("series " + std::to_string(id) +
                               " does not exist (tsdbctl list shows those that do)");
    }
}

tsdb::interval_list every_record(parent::TsdbClient& client, uint32_t id, uint32_t type) {
    return client.get({id, tools::protocol_type(type), 0, true, 0, int64_t{1} << 32, 0, 0});
}

}  // namespace tsdbctl
