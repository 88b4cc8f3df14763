// tsdbctl shell: one database process serving commands read one per line,
// each answered by a status line a script can wait for.
#pragma once

#include <string>

namespace tsdbctl {

// Runs the commands on standard input against the database; 1 if any failed.
// Throws what starting the database process throws.
int run_shell(const std::string& database, bool verbose);

}  // namespace tsdbctl
