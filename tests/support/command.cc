#include "tests/support/command.h"

#include <sys/wait.h>

#include <cstdio>

namespace testing_support {

CommandOutcome run_command(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) {
        output.append(buffer, n);
    }
    const int status = pclose(pipe);
    return {WEXITSTATUS(status), output};
}

}  // namespace testing_support
