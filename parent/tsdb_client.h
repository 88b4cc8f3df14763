// The database requests as calls: each sends its request to a running
// database child and returns the reply's payload. A failure reply raises
// ERequestFailed with the process's text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "parent/child_process.h"
#include "parent/requests.h"
#include "tsdb/buffer_settings.h"

namespace parent {

// Options that start the database program on a database file, with the
// given write-buffer settings (the process's own defaults unless given).
ChildOptions database_child(const std::string& program, const std::string& database,
                            const tsdb::buffer_settings_t& buffer = {});

class ERequestFailed : public error::Exception {
public:
    using Exception::Exception;
};

class TsdbClient {
public:
    explicit TsdbClient(Requests& requests) : requests_(requests) {}

    uint32_t create(const tsdb::time_series_layout_t& layout);
    tsdb::time_series_layout_t describe(uint32_t check_id);
    void remove(uint32_t check_id);

    // PUT_DATA gets no reply when it succeeds: put() waits until the process
    // has handled it and raises its failure; put_async() only sends it.
    void put(const tsdb::Put_Data_Data& put);
    uint32_t put_async(const tsdb::Put_Data_Data& put);
    // PUT_Alloc: the new series' check id.
    uint32_t allocate(int32_t data_type, const tsdb::interval_list& data);
    // Returns once every request sent before has been handled.
    void sync();
    // Raises the failure reply to an earlier put_async(), if one came.
    void check(uint32_t put_uid);

    tsdb::interval_list get(const tsdb::Get_Data_Data& request);
    void truncate(uint32_t check_id, int64_t before_or_at);
    int64_t oldest();
    std::string checksum(uint32_t check_id);
    std::string extract(uint32_t check_id);
    void merge(uint32_t check_id, const std::vector<std::string>& patches);

    uint64_t counter(const std::vector<std::string>& path);
    control::Return_Metric_Timing_Data timing(const std::vector<std::string>& path);
    control::Metric metric_type(const std::vector<std::string>& path);
    control::Metric_Group metrics();

    // Sends the request and returns the payload of its reply of type Reply.
    template <queues::event_t Reply, queues::event_t Request>
    typename queues::payload_of<Reply>::type call(typename queues::payload_of<Request>::type p) {
        queues::event_of<Request> request(0, 0, std::move(p));
        return payload_of_reply<Reply>(ask(request));
    }

private:
    std::unique_ptr<queues::event> ask(queues::event& request) {
        return requests_.reply_to(requests_.send(request));
    }
    template <queues::event_t Reply>
    static typename queues::payload_of<Reply>::type payload_of_reply(
        std::unique_ptr<queues::event> reply);

    Requests& requests_;
};

}  // namespace parent
