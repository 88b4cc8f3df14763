// Messaging failures: time-outs, missing peers, ended streams, and streams
// that are not ready yet.
#pragma once

#include "error/anomaly.h"
#include "error/exception.h"

namespace io {

// A wait that ran out: a refusal of the moment, not a broken peer.
class ETimeout : public errors::stdanomaly {
public:
    using stdanomaly::stdanomaly;
};

class ENoConnection : public error::Exception {
public:
    using Exception::Exception;
};

class EEndOfStream : public error::Exception {
public:
    using Exception::Exception;
};

class ENotReady : public errors::stdanomaly {
public:
    using stdanomaly::stdanomaly;
};

}  // namespace io
