// Request-layer failures: refusals of a request, and failures reported by the
// peer of a dialog.
#pragma once

#include "error/exception.h"

namespace errors {

// Base of request refusals.
class stdanomaly : public error::Exception {
public:
    using Exception::Exception;
};

// The database refuses a request that makes no sense to it.
class db_anomaly : public stdanomaly {
public:
    using stdanomaly::stdanomaly;
};

// The peer of a dialog answered with a failure reply; the text is the peer's.
class remote_error : public error::Exception {
public:
    using Exception::Exception;
};

}  // namespace errors
