// Events on a primitive stream: back to back, no length and no delimiter,
// each a 16-byte header (type, dest, uid, exception word; little-endian)
// and its payload (the failure text when the exception word is set). Also
// the printed form used by traces and logs.
#pragma once

#include <memory>
#include <ostream>

#include "queues/event.h"

namespace queues {

// Writes the event; the caller flushes. A type outside 1 to 195 breaks the
// writer's rule (assertion).
void write_event(protocol::ioprim& io, const event& e);

// The next event on the stream. io::EEndOfStream at the end of the stream;
// protocol::EMalformedEvent (an end of stream too: nothing after bad bytes
// can be framed) for an unknown type, a payload this process does not
// carry, or a payload that breaks its form.
std::unique_ptr<event> read_event(protocol::ioprim& io);

// The name, " {", the dest and uid lines, the payload one level deeper, "}".
void print_event(std::ostream& out, const event& e, unsigned level = 0);

}  // namespace queues
