// The ten database requests of the parent: create, delete and describe a
// series, read and write data, truncate old data, find the oldest record,
// and checksum, extract and merge a series for recovery. Each handler
// answers its requester with its reply, or throws: errors::db_anomaly for a
// request that makes no sense to the database, tsdb::error_generic for a
// failure of the storage engine. The caller turns both into failure replies.
#pragma once

#include <array>
#include <cstdint>

#include "queues/event.h"
#include "queues/event_sender.h"
#include "tsdb/engine.h"

namespace server {

class RequestHandlers {
public:
    // Times such as "until now" come from the engine's clock.
    RequestHandlers(tsdb::Engine& engine, queues::EventSender& out);

    // Whether a handler serves events of this type.
    bool serves(queues::event_t type) const;
    // Runs the handler of the request's type; see serves().
    void handle(const queues::event& request);

private:
    using Handler = void (RequestHandlers::*)(const queues::event&);

    void ev_create_timeseries(const queues::event& request);
    void ev_delete_timeseries(const queues::event& request);
    void ev_describe_timeseries(const queues::event& request);
    void ev_get_data(const queues::event& request);
    void ev_put_data(const queues::event& request);
    void ev_truncate_old_data(const queues::event& request);
    void ev_find_oldest_record(const queues::event& request);
    void ev_recovery_checksum_timeseries(const queues::event& request);
    void ev_recovery_extract_timeseries(const queues::event& request);
    void ev_recovery_merge_timeseries(const queues::event& request);

    void put_operation(const tsdb::Put_Data_Data& put);
    // PUT_Alloc: a new series holding exactly the records.
    template <uint32_t DataType>
    void allocate_series(const queues::event& request,
                         const std::vector<tsdb::record_t<DataType>>& records);
    template <uint32_t DataType>
    void append(uint32_t check_id, const std::vector<tsdb::record_t<DataType>>& records,
                const std::string& requester);
    // The series' storage type; db_anomaly naming `at` for a type the
    // handlers do not know.
    uint32_t storage_type(uint32_t check_id, const char* at) const;

    template <queues::event_t N>
    void reply(const queues::event& request, typename queues::payload_of<N>::type payload) {
        out_.send(queues::event_of<N>(request.dest, request.uid, std::move(payload)));
    }

    tsdb::Engine& engine_;
    queues::EventSender& out_;
    std::array<Handler, queues::INVALID_TAIL> table_{};
};

}  // namespace server
