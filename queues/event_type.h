// Event type numbers. Types 1 to 45 are the control and database events
// this process knows, listed once here with their payload types; 46 to 194
// belong to other processes of the product and are only named; 195 is the
// failure reply.
#pragma once

#include <cstdint>
#include <string>

namespace queues {

using event_t = uint32_t;

// X(number, name, payload type)
#define QUEUES_KNOWN_EVENTS(X)                                             \
    X(1, DAEMONIZE_SYSTEM, int32_t)                                        \
    X(2, SYS_EXIT, control::Sys_Exit_Data)                                 \
    X(3, INIT_OK, control::Init_Ok_Data)                                   \
    X(4, SYSTEM_LOG_REQUEST, control::Log_Request_Data)                    \
    X(5, SERVER_CONFIGURATION, control::Server_Configuration_Fields)       \
    X(6, REQUEST_SERVER_CONFIGURATION, int32_t)                            \
    X(7, REQUEST_SERVER_VARIABLE_FIELDS, int32_t)                          \
    X(8, RETURN_SERVER_VARIABLE_FIELDS, foreign_payload)                   \
    X(9, STORE_SERVER_VARIABLE_FIELDS, foreign_payload)                    \
    X(10, REQUEST_SPAWN_PROCESS, queues::queue_t)                          \
    X(11, GET_PURE_ENTROPY, int32_t)                                       \
    X(12, RETURN_PURE_ENTROPY, std::string)                                \
    X(13, GET_PSEUDO_RANDOM, foreign_payload)                              \
    X(14, RETURN_PSEUDO_RANDOM, std::string)                               \
    X(15, GET_METRIC, control::Get_Metric_Data)                            \
    X(16, RETURN_METRIC_ERROR, std::string)                                \
    X(17, RETURN_METRIC_UINT64, uint64_t)                                  \
    X(18, RETURN_METRIC_DOUBLE, double)                                    \
    X(19, RETURN_METRIC_TIMING, control::Return_Metric_Timing_Data)        \
    X(20, LIST_METRICS, int32_t)                                           \
    X(21, RETURN_LIST_METRICS, control::Metric_Group)                      \
    X(22, GET_METRIC_TYPE, control::Get_Metric_Type_Data)                  \
    X(23, RETURN_GET_METRIC_TYPE, control::Metric)                         \
    X(24, SUPPORTS_METRICS, int32_t)                                       \
    X(25, CREATE_TIMESERIES, tsdb::time_series_layout_t)                   \
    X(26, RETURN_CREATE_TIMESERIES, uint32_t)                              \
    X(27, DELETE_TIMESERIES, uint32_t)                                     \
    X(28, RETURN_DELETE_TIMESERIES, int32_t)                               \
    X(29, DESCRIBE_TIMESERIES, uint32_t)                                   \
    X(30, RETURN_DESCRIBE_TIMESERIES, tsdb::time_series_layout_t)          \
    X(31, GET_DATA, tsdb::Get_Data_Data)                                   \
    X(32, RETURN_GET_DATA, tsdb::Return_Get_Data_Data)                     \
    X(33, PUT_DATA, tsdb::Put_Data_Data)                                   \
    X(34, RETURN_PUT_DATA_ALLOC, uint32_t)                                 \
    X(35, TRUNCATE_OLD_DATA, tsdb::Truncate_Old_Data_Data)                 \
    X(36, RETURN_TRUNCATE_OLD_DATA, int32_t)                               \
    X(37, FIND_OLDEST_RECORD, int32_t)                                     \
    X(38, RETURN_FIND_OLDEST_RECORD, int64_t)                              \
    X(39, RECOVERY_CHECKSUM_TIMESERIES, uint32_t)                          \
    X(40, RETURN_RECOVERY_CHECKSUM_TIMESERIES, std::string)                \
    X(41, RECOVERY_EXTRACT_TIMESERIES, uint32_t)                           \
    X(42, RETURN_RECOVERY_EXTRACT_TIMESERIES, std::string)                 \
    X(43, RECOVERY_MERGE_TIMESERIES, tsdb::Recovery_Merge_TimeSeries_Data) \
    X(44, RETURN_RECOVERY_MERGE_TIMESERIES, int32_t)                       \
    X(45, REQUEST_RESULT, int32_t)

#define QUEUES_EVENT_NUMBER(number, name, payload) name = number,
enum : event_t {
    INVALID_HEAD = 0,
    QUEUES_KNOWN_EVENTS(QUEUES_EVENT_NUMBER)
    // 46 to 194: events of the other processes.
    MESSAGE_EXCEPTION = 195,
    INVALID_TAIL = 196,
};
#undef QUEUES_EVENT_NUMBER

// The name of 0 to 196; "(event_t)" and the number above.
std::string event_name(event_t type);

}  // namespace queues
