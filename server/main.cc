// The database process. It reads no command line: the transport comes from
// the environment and everything else from the parent.
#include "log/system_log.h"
#include "server/process.h"
#include "util/crash_reporter.h"

namespace {

// Before anything else, so that a fault anywhere leaves a report.
const bool crash_reporter_installed = [] {
    util::install_crash_reporter(logging::report_crash);
    return true;
}();

}  // namespace

int main() { return server::run_process(); }
