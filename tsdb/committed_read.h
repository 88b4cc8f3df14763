// Reading a database that a database process may hold and write meanwhile:
// a read is one committed state when no commit landed while it ran, and is
// made again when one did.
#pragma once

#include <string>

#include "error/exception.h"
#include "tsdb/error.h"

namespace tsdb {

// How often a read is made again before it gives up.
inline constexpr int committed_read_tries = 50;

// The failure after that many tries.
inline error_generic committed_too_often() {
    return error_generic("the database committed " + std::to_string(committed_read_tries) +
                         " times while it was read; try again");
}

// Runs `attempt()`, which opens what it reads, reads, and returns whether
// nothing it opened changed since (and false when it failed midway for
// that reason), until it returns true; a failure is thrown on when the
// attempt before failed the same way, for then it is the file's own.
template <typename Attempt>
void read_committed(Attempt&& attempt) {
    std::string failed_before;
    for (int tries = 0; tries < committed_read_tries; ++tries) {
        try {
            if (attempt()) {
                return;
            }
            failed_before.clear();
        } catch (const error::Exception& failure) {
            if (failure.text() == failed_before) {
                throw;
            }
            failed_before = failure.text();
        }
    }
    throw committed_too_often();
}

}  // namespace tsdb
