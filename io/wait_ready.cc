#include "io/error.h"
#include "io/selectable.h"

namespace io {

// Without a selector, nothing can become ready while this thread waits.
void waitReady(Selectable& selectable) {
    if (!selectable.isReady()) {
        throw ENotReady("Selectable " + selectable.name() + " not ready");
    }
}

}  // namespace io
