// The record each storage type stores, its unit of level size, and the one
// way to run code for every storage type: by_type at run time,
// TSDB_FOR_EACH_STORAGE_TYPE for explicit instantiations.
#pragma once

#include <cstdint>

#include "tsdb/error.h"
#include "tsdb/layout.h"
#include "tsdb/record.h"

namespace tsdb {

template <uint32_t DataType>
struct record_of;
template <>
struct record_of<type_continuous> {
    using type = continuous_record_t;
};
template <>
struct record_of<type_enum> {
    using type = enum_record_t;
};
template <>
struct record_of<type_monotonic> {
    using type = continuous_record_t;
};
template <>
struct record_of<type_incident> {
    using type = incident_record_t;
};
template <uint32_t DataType>
using record_t = typename record_of<DataType>::type;

// Bytes per record unit of a storage type (incident levels are sized in
// bytes); tsdb::error_dbtype "Datatype out of range" for other types.
uint32_t record_unit_size(uint32_t data_type);

// Calls action.template operator()<T>() for the storage type T;
// tsdb::error_dbtype "Datatype out of range" for any other number.
template <typename Action>
auto by_type(uint32_t data_type, Action&& action) {
    switch (data_type) {
        case type_continuous:
            return action.template operator()<type_continuous>();
        case type_enum:
            return action.template operator()<type_enum>();
        case type_monotonic:
            return action.template operator()<type_monotonic>();
        case type_incident:
            return action.template operator()<type_incident>();
        default:
            throw error_dbtype("Datatype out of range");
    }
}

}  // namespace tsdb

// Expands X(type) for every storage type, inside namespace tsdb.
#define TSDB_FOR_EACH_STORAGE_TYPE(X) \
    X(type_continuous)                \
    X(type_enum)                      \
    X(type_monotonic)                 \
    X(type_incident)
