#include "parent/tsdb_client.h"

namespace parent {

using namespace queues;

ChildOptions database_child(const std::string& program, const std::string& database,
                            const tsdb::buffer_settings_t& buffer) {
    ChildOptions options;
    options.program = program;
    options.configuration.dbms_tsdb_file_path = database;
    options.configuration.tsdb_buffer_entries = buffer.entries;
    options.configuration.tsdb_buffer_write_min = buffer.write_min;
    options.configuration.tsdb_buffer_age_max = buffer.age_max;
    options.configuration.tsdb_buffer_flush_batch = buffer.flush_batch;
    return options;
}

namespace {

[[noreturn]] void fail(const event& reply) {
    if (const auto* failure = dynamic_cast<const exevent*>(&reply)) {
        throw ERequestFailed(failure->text);
    }
    throw EChild("Unexpected reply " + event_name(reply.type));
}

}  // namespace

template <event_t Reply>
typename payload_of<Reply>::type TsdbClient::payload_of_reply(std::unique_ptr<event> reply) {
    // The reply is ours alone: its payload moves out rather than copying.
    if (auto* typed = dynamic_cast<event_of<Reply>*>(reply.get())) {
        return std::move(typed->payload);
    }
    fail(*reply);
}

uint32_t TsdbClient::create(const tsdb::time_series_layout_t& layout) {
    return call<RETURN_CREATE_TIMESERIES, CREATE_TIMESERIES>(layout);
}

tsdb::time_series_layout_t TsdbClient::describe(uint32_t check_id) {
    return call<RETURN_DESCRIBE_TIMESERIES, DESCRIBE_TIMESERIES>(check_id);
}

void TsdbClient::remove(uint32_t check_id) {
    call<RETURN_DELETE_TIMESERIES, DELETE_TIMESERIES>(check_id);
}

uint32_t TsdbClient::put_async(const tsdb::Put_Data_Data& put) {
    event_of<PUT_DATA> request(0, 0, put);
    return requests_.send(request);
}

void TsdbClient::put(const tsdb::Put_Data_Data& put) {
    const uint32_t uid = put_async(put);
    sync();
    check(uid);
}

void TsdbClient::check(uint32_t put_uid) {
    if (const std::unique_ptr<event> failure = requests_.take_reply(put_uid)) {
        fail(*failure);
    }
}

uint32_t TsdbClient::allocate(int32_t data_type, const tsdb::interval_list& data) {
    event_of<PUT_DATA> request(0, 0, {queue_main, 0, tsdb::PUT_Alloc, data_type, data});
    const uint32_t uid = requests_.send(request);
    const uint32_t check_id = payload_of_reply<RETURN_PUT_DATA_ALLOC>(requests_.reply_to(uid));
    sync();
    check(uid);
    return check_id;
}

void TsdbClient::sync() {
    // Any reply will do: requests are handled in the order they are sent.
    event_of<GET_METRIC_TYPE> request;
    ask(request);
}

tsdb::interval_list TsdbClient::get(const tsdb::Get_Data_Data& request) {
    return call<RETURN_GET_DATA, GET_DATA>(request).data;
}

void TsdbClient::truncate(uint32_t check_id, int64_t before_or_at) {
    call<RETURN_TRUNCATE_OLD_DATA, TRUNCATE_OLD_DATA>({check_id, before_or_at});
}

int64_t TsdbClient::oldest() { return call<RETURN_FIND_OLDEST_RECORD, FIND_OLDEST_RECORD>(0); }

std::string TsdbClient::checksum(uint32_t check_id) {
    return call<RETURN_RECOVERY_CHECKSUM_TIMESERIES, RECOVERY_CHECKSUM_TIMESERIES>(check_id);
}

std::string TsdbClient::extract(uint32_t check_id) {
    return call<RETURN_RECOVERY_EXTRACT_TIMESERIES, RECOVERY_EXTRACT_TIMESERIES>(check_id);
}

void TsdbClient::merge(uint32_t check_id, const std::vector<std::string>& patches) {
    call<RETURN_RECOVERY_MERGE_TIMESERIES, RECOVERY_MERGE_TIMESERIES>({check_id, patches});
}

namespace {

// Metric requests answer their failures with RETURN_METRIC_ERROR.
template <event_t Reply>
typename payload_of<Reply>::type metric_reply(const event& reply) {
    if (const auto* error = dynamic_cast<const event_of<RETURN_METRIC_ERROR>*>(&reply)) {
        throw ERequestFailed(error->payload);
    }
    if (const auto* typed = dynamic_cast<const event_of<Reply>*>(&reply)) {
        return typed->payload;
    }
    fail(reply);
}

}  // namespace

uint64_t TsdbClient::counter(const std::vector<std::string>& path) {
    event_of<GET_METRIC> request(0, 0, {path});
    return metric_reply<RETURN_METRIC_UINT64>(*ask(request));
}

control::Return_Metric_Timing_Data TsdbClient::timing(const std::vector<std::string>& path) {
    event_of<GET_METRIC> request(0, 0, {path});
    return metric_reply<RETURN_METRIC_TIMING>(*ask(request));
}

control::Metric TsdbClient::metric_type(const std::vector<std::string>& path) {
    event_of<GET_METRIC_TYPE> request;
    request.payload.id = path;
    return metric_reply<RETURN_GET_METRIC_TYPE>(*ask(request));
}

control::Metric_Group TsdbClient::metrics() {
    event_of<LIST_METRICS> request(0, 0, 0);
    return metric_reply<RETURN_LIST_METRICS>(*ask(request));
}

}  // namespace parent
