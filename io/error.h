// Messaging failures: time-outs, missing peers, ended streams, and streams
// that are not ready yet.
#pragma once

#include "error/exception.h"

namespace io {

class ETimeout : public error::Exception {
public:
    using Exception::Exception;
};

class ENoConnection : public error::Exception {
public:
    using Exception::Exception;
};

class EEndOfStream : public error::Exception {
public:
    using Exception::Exception;
};

class ENotReady : public error::Exception {
public:
    using Exception::Exception;
};

}  // namespace io
