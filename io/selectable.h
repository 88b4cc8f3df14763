// Something the process can wait for: bytes on a stream, room to write, a
// deadline. The selector waits until one of the selectables it holds is
// ready.
#pragma once

#include <string>

namespace io {

class Selectable {
public:
    virtual ~Selectable() = default;
    // A printable name, used in failure texts ("parentqueue.in", "Timer").
    virtual std::string name() const = 0;
    // Whether it can be served now without blocking.
    virtual bool isReady() = 0;
};

// Waits until the selectable is ready, without a time-out.
void waitReady(Selectable& selectable);

}  // namespace io
