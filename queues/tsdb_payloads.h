// Payloads of the database requests and replies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "queues/codec.h"
#include "queues/data_interval.h"
#include "queues/queue.h"
#include "tsdb/layout.h"

namespace protocol {

template <>
struct fields<tsdb::level_t> {
    template <typename S, typename F>
    static void visit(S& s, F&& f) {
        f("size", s.size);
        f("resolution", s.resolution);
    }
};

template <>
struct fields<tsdb::time_series_layout_t> {
    template <typename S, typename F>
    static void visit(S& s, F&& f) {
        f("data_type", s.data_type);
        f("levels", s.levels);
    }
};

}  // namespace protocol

namespace tsdb {

struct Get_Data_Data {
    uint32_t handle = 0;  // check id
    int32_t data_type = 0;
    int32_t flags = 0;
    bool raw = false;
    int64_t start = 0;
    int64_t end = 0;
    uint32_t count = 0;
    int32_t offset = 0;
    template <typename S, typename F>
    static void visit(S& s, F&& f) {
        f("handle", s.handle);
        f("data_type", s.data_type);
        f("flags", s.flags);
        f("raw", s.raw);
        f("start", s.start);
        f("end", s.end);
        f("count", s.count);
        f("offset", s.offset);
    }
};

struct Return_Get_Data_Data {
    int32_t data_type = 0;
    interval_list data;
    template <typename S, typename F>
    static void visit(S& s, F&& f) {
        f("data_type", s.data_type);
        f("data", s.data);
    }
};

enum put_operation_t : int32_t {
    PUT_Unset = 0,
    PUT_Replace = 1,
    PUT_Append = 2,
    PUT_Rebuild = 3,
    PUT_Alloc = 4,
};

struct Put_Data_Data {
    queues::queue_t orig_requester = queues::queue_none;
    uint32_t handle = 0;
    int32_t operation = PUT_Unset;
    int32_t data_type = 0;
    interval_list data;  // oldest first
    template <typename S, typename F>
    static void visit(S& s, F&& f) {
        f("orig_requester", s.orig_requester);
        f("handle", s.handle);
        f("operation", s.operation);
        f("data_type", s.data_type);
        f("data", s.data);
    }
};

struct Truncate_Old_Data_Data {
    uint32_t handle = 0;
    int64_t time = 0;
    template <typename S, typename F>
    static void visit(S& s, F&& f) {
        f("handle", s.handle);
        f("time", s.time);
    }
};

struct Recovery_Merge_TimeSeries_Data {
    uint32_t handle = 0;
    std::vector<std::string> data;  // recovery patches
    template <typename S, typename F>
    static void visit(S& s, F&& f) {
        f("handle", s.handle);
        f("data", s.data);
    }
};

}  // namespace tsdb
