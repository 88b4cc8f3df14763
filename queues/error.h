// A stream whose bytes cannot be read as events. Nothing after the bad bytes
// can be framed again, so it is an end of that stream; the text says what
// was wrong.
#pragma once

#include "io/error.h"

namespace protocol {

class EMalformedEvent : public io::EEndOfStream {
public:
    using EEndOfStream::EEndOfStream;
};

}  // namespace protocol
