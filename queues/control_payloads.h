// Payloads of the control events this process exchanges with its parent:
// exit, start-up, logging and metering.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "queues/codec.h"
#include "queues/queue.h"

namespace control {

struct Sys_Exit_Data {
    int32_t code = 0;
    template <typename S, typename F>
    static void visit(S& s, F&& f) {
        f("code", s.code);
    }
};

// The queues this process needs before it can serve.
struct Init_Ok_Data {
    std::set<queues::queue_t> depend_on;
    template <typename S, typename F>
    static void visit(S& s, F&& f) {
        f("depend_on", s.depend_on);
    }
};

struct Log_Request_Data {
    std::string msg;  // one line, without line end
    int32_t log_type = 0;
    template <typename S, typename F>
    static void visit(S& s, F&& f) {
        f("msg", s.msg);
        f("log_type", s.log_type);
    }
};

// The path of a metric from the root group (GET_METRIC, GET_METRIC_TYPE).
struct Get_Metric_Data {
    std::vector<std::string> id;
    template <typename S, typename F>
    static void visit(S& s, F&& f) {
        f("id", s.id);
    }
};
struct Get_Metric_Type_Data : Get_Metric_Data {};

struct Return_Metric_Timing_Data {
    uint64_t n = 0;
    uint64_t min = 0;
    uint64_t max = 0;
    uint64_t sum = 0;
    uint64_t sum_squares = 0;
    template <typename S, typename F>
    static void visit(S& s, F&& f) {
        f("n", s.n);
        f("min", s.min);
        f("max", s.max);
        f("sum", s.sum);
        f("sum_squares", s.sum_squares);
    }
};

struct Metric {
    std::string name;
    std::string unit;
    std::string desc;
    uint32_t type = 0;  // 2 integer counter, 3 timing
    template <typename S, typename F>
    static void visit(S& s, F&& f) {
        f("name", s.name);
        f("unit", s.unit);
        f("desc", s.desc);
        f("type", s.type);
    }
};

// A group of metrics with its subgroups; a reader refuses nesting deeper
// than max_depth.
struct Metric_Group {
    static constexpr unsigned max_depth = 32;

    std::string name;
    std::vector<Metric_Group> groups;
    std::vector<std::string> tables;
    std::vector<Metric> metrics;
    template <typename S, typename F>
    static void visit(S& s, F&& f) {
        f("name", s.name);
        f("groups", s.groups);
        f("tables", s.tables);
        f("metrics", s.metrics);
    }
    void read_from(protocol::ioprim& io);
};

}  // namespace control
