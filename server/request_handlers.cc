#include "server/request_handlers.h"

#include <algorithm>
#include <string>

#include "error/anomaly.h"
#include "error/assert.h"
#include "log/log.h"
#include "meter/metric.h"
#include "meter/process_groups.h"
#include "server/data_intervals.h"
#include "tsdb/error.h"
#include "tsdb/storage_type.h"
#include "util/time_text.h"

namespace server {

namespace {

using namespace queues;
using std::to_string;

meter::Group& records_metrics = meter::process_groups().records;
meter::IntegerCounter records_get(&records_metrics, "get", "Number of records read");
meter::IntegerCounter records_put(&records_metrics, "put", "Number of records written");

// The payload of a request whose type fixes it; anything else is a breach of
// the event table, not of the peer.
template <event_t N>
const typename payload_of<N>::type& payload(const event& e, const char* handler) {
    const auto* typed = dynamic_cast<const event_of<N>*>(&e);
    error::require(typed != nullptr, std::string("dynamic_cast in ") + handler + " failed");
    return typed->payload;
}

// Calls action.template operator()<T>(records) with the records of the
// storage type that the protocol data type writes.
template <typename Action>
void with_records(int32_t data_type, const tsdb::interval_list& data, Action&& action) {
    switch (data_type) {
        case data_span:
        case data_monotonic:
            return action.template operator()<tsdb::type_monotonic>(
                continuous_records(data_type, data));
        case data_float:
            return action.template operator()<tsdb::type_continuous>(
                continuous_records(data_type, data));
        case data_enum:
            return action.template operator()<tsdb::type_enum>(enum_records(data));
        case data_incident:
            return action.template operator()<tsdb::type_incident>(incident_records(data));
        default:
            throw errors::db_anomaly("Unknown data type (" + to_string(data_type) +
                                     ") given to time series merger");
    }
}

}  // namespace

RequestHandlers::RequestHandlers(tsdb::Engine& engine, EventSender& out)
    : engine_(engine), out_(out) {
    table_[CREATE_TIMESERIES] = &RequestHandlers::ev_create_timeseries;
    table_[DELETE_TIMESERIES] = &RequestHandlers::ev_delete_timeseries;
    table_[DESCRIBE_TIMESERIES] = &RequestHandlers::ev_describe_timeseries;
    table_[GET_DATA] = &RequestHandlers::ev_get_data;
    table_[PUT_DATA] = &RequestHandlers::ev_put_data;
    table_[TRUNCATE_OLD_DATA] = &RequestHandlers::ev_truncate_old_data;
    table_[FIND_OLDEST_RECORD] = &RequestHandlers::ev_find_oldest_record;
    table_[RECOVERY_CHECKSUM_TIMESERIES] = &RequestHandlers::ev_recovery_checksum_timeseries;
    table_[RECOVERY_EXTRACT_TIMESERIES] = &RequestHandlers::ev_recovery_extract_timeseries;
    table_[RECOVERY_MERGE_TIMESERIES] = &RequestHandlers::ev_recovery_merge_timeseries;
}

bool RequestHandlers::serves(event_t type) const {
    return type < table_.size() && table_[type] != nullptr;
}

void RequestHandlers::handle(const event& request) {
    error::require(serves(request.type), "RequestHandlers::handle without a handler");
    (this->*table_[request.type])(request);
}

uint32_t RequestHandlers::storage_type(uint32_t check_id, const char* at) const {
    const uint32_t type = engine_.data_type(check_id);
    if (type < tsdb::type_continuous || type > tsdb::type_incident) {
        throw errors::db_anomaly("Unknown data type (" + to_string(type) + ") in TSDB index " +
                                 to_string(check_id) + " at " + at);
    }
    return type;
}

void RequestHandlers::ev_create_timeseries(const event& request) {
    const auto& layout = payload<CREATE_TIMESERIES>(request, "ev_create_timeseries");
    reply<RETURN_CREATE_TIMESERIES>(request, engine_.create_series(layout));
}

void RequestHandlers::ev_delete_timeseries(const event& request) {
    engine_.delete_series(payload<DELETE_TIMESERIES>(request, "ev_delete_timeseries"));
    reply<RETURN_DELETE_TIMESERIES>(request, 0);
}

void RequestHandlers::ev_describe_timeseries(const event& request) {
    const uint32_t check_id = payload<DESCRIBE_TIMESERIES>(request, "ev_describe_timeseries");
    reply<RETURN_DESCRIBE_TIMESERIES>(request, engine_.describe_series(check_id));
}

namespace {

// The records of [from, to), or only the newest one.
template <uint32_t DataType>
std::vector<tsdb::record_t<DataType>> read(tsdb::Engine& engine, uint32_t check_id,
                                           bool newest_only, int64_t from, int64_t to) {
    if (!newest_only) {
        // A range that starts after it ends holds nothing.
        return engine.get<DataType>(check_id, from, std::max(from, to));
    }
    try {
        return {engine.newest<DataType>(check_id)};
    } catch (const tsdb::error_empty&) {
        return {};
    }
}

}  // namespace

void RequestHandlers::ev_get_data(const event& request) {
    const auto& q = payload<GET_DATA>(request, "ev_get_data");
    tsdb::Return_Get_Data_Data result{q.data_type, {}};
    engine_.require_series(q.handle);
    const bool newest_only = q.start == 0 && q.end == 0 && q.count == 1 && q.raw;
    const read_shape_t shape{q.raw, q.start, q.end, q.count, q.offset};
    switch (q.data_type) {
        case data_span:
        case data_monotonic:
        case data_float: {
            const auto records =
                q.data_type == data_float
                    ? read<tsdb::type_continuous>(engine_, q.handle, newest_only, q.start, q.end)
                    : read<tsdb::type_monotonic>(engine_, q.handle, newest_only, q.start, q.end);
            result.data = continuous_intervals(q.data_type, records, shape);
            break;
        }
        case data_enum:
            result.data = enum_intervals(
                read<tsdb::type_enum>(engine_, q.handle, newest_only, q.start, q.end), shape);
            break;
        case data_incident: {
            const int64_t from = q.start == -1 ? 0 : q.start;
            const int64_t to = q.end == -1 ? engine_.now() : q.end;
            result.data = incident_intervals(
                read<tsdb::type_incident>(engine_, q.handle, newest_only, from, to), shape);
            break;
        }
        default:
            throw errors::db_anomaly("Unknown data type (" + to_string(q.data_type) +
                                     ") for TSDB index " + to_string(q.handle));
    }
    records_get.increment(result.data.size());
    reply<RETURN_GET_DATA>(request, std::move(result));
}

template <uint32_t DataType>
void RequestHandlers::append(uint32_t check_id,
                             const std::vector<tsdb::record_t<DataType>>& records,
                             const std::string& requester) {
    for (const auto& record : records) {
        if (tsdb::is_valid(record)) {
            engine_.put<DataType>(check_id, record);
        } else {
            logging::log("Warning: Skiping invalid record " + tsdb::text(record) + " for series " +
                         to_string(check_id) + requester);
        }
    }
}

template <uint32_t DataType>
void RequestHandlers::allocate_series(const event& request,
                                      const std::vector<tsdb::record_t<DataType>>& records) {
    // A ring holds one byte less than its size.
    uint64_t bytes = 1;
    for (const auto& record : records) {
        bytes += tsdb::encoded_size(record);
    }
    const uint32_t check_id = engine_.create_series_holding(DataType, bytes);
    reply<RETURN_PUT_DATA_ALLOC>(request, check_id);
    append<DataType>(check_id, records, "");
}

void RequestHandlers::ev_put_data(const event& request) {
    const auto& put = payload<PUT_DATA>(request, "ev_put_data");
    try {
        if (put.operation == tsdb::PUT_Alloc) {
            with_records(put.data_type, put.data, [&]<uint32_t T>(const auto& records) {
                allocate_series<T>(request, records);
            });
        } else {
            put_operation(put);
        }
    } catch (const tsdb::error_dbtype& failure) {
        logging::log("Insertion error in " + to_string(put.handle) + ": " + failure.text());
        throw;
    } catch (const tsdb::error_range& failure) {
        logging::log("Insertion error in " + to_string(put.handle) + ": " + failure.text());
        throw;
    }
    records_put.increment(put.data.size());
}

void RequestHandlers::put_operation(const tsdb::Put_Data_Data& put) {
    switch (put.operation) {
        case tsdb::PUT_Unset:
            throw errors::db_anomaly("PUT_Unset");
        case tsdb::PUT_Replace:
            engine_.require_series(put.handle);
            throw errors::db_anomaly("Unimplemented PUT_Replace");
        case tsdb::PUT_Append: {
            engine_.require_series(put.handle);
            const std::string requester = " from " + queue_name(put.orig_requester);
            with_records(put.data_type, put.data, [&]<uint32_t T>(const auto& records) {
                append<T>(put.handle, records, requester);
            });
            return;
        }
        case tsdb::PUT_Rebuild:
            engine_.require_series(put.handle);
            with_records(put.data_type, put.data, [&]<uint32_t T>(const auto& records) {
                engine_.rebuild<T>(put.handle, records);
            });
            return;
        default:
            return;
    }
}

void RequestHandlers::ev_truncate_old_data(const event& request) {
    const auto& q = payload<TRUNCATE_OLD_DATA>(request, "ev_truncate_old_data");
    tsdb::by_type(storage_type(q.handle, "truncate_old_data"),
                  [&]<uint32_t T>() { engine_.truncate<T>(q.handle, q.time); });
    reply<RETURN_TRUNCATE_OLD_DATA>(request, 0);
}

void RequestHandlers::ev_find_oldest_record(const event& request) {
    int64_t oldest = engine_.now();
    logging::log("We have " + to_string(engine_.check_capacity()) +
                 " check elements in the check chain");
    for (uint32_t id = 0; id < engine_.check_capacity(); ++id) {
        if (!engine_.series_exists(id)) {
            continue;
        }
        logging::log("Reading oldest sample time...");
        const uint32_t t = engine_.oldest(id);
        if (t != 0) {
            logging::log("Check " + to_string(id) + " had oldest time at " + util::time_text(t));
            oldest = std::min<int64_t>(oldest, t);
        }
    }
    reply<RETURN_FIND_OLDEST_RECORD>(request, oldest);
}

void RequestHandlers::ev_recovery_checksum_timeseries(const event& request) {
    const uint32_t check_id =
        payload<RECOVERY_CHECKSUM_TIMESERIES>(request, "ev_recovery_checksum_timeseries");
    storage_type(check_id, "recovery_checksum_ts");
    reply<RETURN_RECOVERY_CHECKSUM_TIMESERIES>(request, engine_.checksum(check_id));
}

void RequestHandlers::ev_recovery_extract_timeseries(const event& request) {
    const uint32_t check_id =
        payload<RECOVERY_EXTRACT_TIMESERIES>(request, "ev_recovery_extract_timeseries");
    storage_type(check_id, "recovery_extract_ts");
    reply<RETURN_RECOVERY_EXTRACT_TIMESERIES>(request, engine_.extract(check_id));
}

void RequestHandlers::ev_recovery_merge_timeseries(const event& request) {
    const auto& q = payload<RECOVERY_MERGE_TIMESERIES>(request, "ev_recovery_merge_timeseries");
    storage_type(q.handle, "recovery_merge_ts");
    engine_.merge(q.handle, q.data);
    reply<RETURN_RECOVERY_MERGE_TIMESERIES>(request, 0);
}

}  // namespace server
