// Running a program as an operator would, for tests.
#pragma once

#include <string>

namespace testing_support {

struct CommandOutcome {
    int status;
    std::string output;  // standard output and error output together
};

CommandOutcome run_command(const std::string& command);

}  // namespace testing_support
