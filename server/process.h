// The database process: start-up (transport, log to the parent, the
// configuration dialog, the database with its upgrade check, the request
// handlers, metering, INIT_OK), the single-threaded main loop with its timed
// duties, and the shutdown that leaves everything written and committed.
#pragma once

namespace server {

// The process entry: 0 after a protocol shutdown, 1 after a failure, whose
// text went to the error output after "Caught: ".
int run_process();

}  // namespace server
