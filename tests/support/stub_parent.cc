// A parent for the test of a parent that dies: starts the echo child,
// prints its pid and waits to be killed.
#include <unistd.h>

#include <iostream>

#include "parent/child_process.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: stub_parent ECHO_CHILD GONE_FILE\n";
        return 2;
    }
    parent::ChildOptions options;
    options.program = argv[1];
    options.environment = {{"ECHO_CHILD_GONE_FILE", argv[2]}};
    options.on_log = [](const std::string&) {};
    parent::ChildProcess child(options);
    std::cout << child.pid() << std::endl;
    for (;;) {
        pause();
    }
}
