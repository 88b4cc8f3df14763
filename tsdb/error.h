// Storage failures. Everything the storage engine raises derives from
// error_generic, which the request layer turns into a failure reply.
#pragma once

#include "error/exception.h"

namespace tsdb {

#define TSDB_FAILURE_CLASS(name, base) \
    class name : public base {         \
    public:                            \
        using base::base;              \
    }

class error_generic : public error::Exception {
public:
    using Exception::Exception;
};

// A rule of the database is broken by a caller or by the code.
TSDB_FAILURE_CLASS(error_internal, error_generic);
TSDB_FAILURE_CLASS(error_dbtype, error_internal);
TSDB_FAILURE_CLASS(error_range, error_internal);
TSDB_FAILURE_CLASS(error_dcalloc, error_internal);
TSDB_FAILURE_CLASS(error_unref_used, error_internal);

// The database file cannot be used.
TSDB_FAILURE_CLASS(error_io, error_generic);
TSDB_FAILURE_CLASS(error_open, error_io);
TSDB_FAILURE_CLASS(error_seek, error_io);
TSDB_FAILURE_CLASS(error_read, error_io);
TSDB_FAILURE_CLASS(error_toobig, error_io);

// The stored structure contradicts itself.
TSDB_FAILURE_CLASS(error_consistency, error_generic);
TSDB_FAILURE_CLASS(error_need_repair, error_consistency);
TSDB_FAILURE_CLASS(error_red_magic, error_need_repair);
TSDB_FAILURE_CLASS(error_red_pointer, error_need_repair);
TSDB_FAILURE_CLASS(error_fubar, error_consistency);

// A series holds no record where one is needed.
TSDB_FAILURE_CLASS(error_empty, error_generic);
// No room even after growing the file.
TSDB_FAILURE_CLASS(error_dbnospace, error_generic);
// Growing would pass the internal size limit.
TSDB_FAILURE_CLASS(error_dbspacewrap, error_generic);

#undef TSDB_FAILURE_CLASS

}  // namespace tsdb
