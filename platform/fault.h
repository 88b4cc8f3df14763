// Fatal faults of the process: the signals that mean a crash, calls of pure
// virtual functions and exceptions that nobody caught, all routed to one
// handler, plus the few async-signal-safe calls such a handler may make.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct Fault {
    int signal;           // the signal that ends the process
    const char* cause;    // what happened, e.g. "SIGSEGV" or "uncaught exception"
    const void* address;  // the faulting address, when the signal has one
};

using FaultHandler = void (*)(const Fault&) noexcept;

// Makes `handler` the one handler of fatal faults. It runs on its own stack,
// once; when it returns the process dies of the fault's signal.
void install_fault_handler(FaultHandler handler);

// The path of the running program, if the system tells it.
std::optional<std::string> program_path();

// Async-signal-safe helpers for the handler.
namespace signal_safe {

// Creates or truncates `path` for writing; -1 and the errno in `error` on failure.
int create_file(const char* path, int& error) noexcept;
// Writes all of `text`; false with the errno in `error` on failure.
bool write_all(int fd, std::string_view text, int& error) noexcept;
void close_file(int fd) noexcept;
// Writes the calling thread's stack, one frame per line.
void write_backtrace(int fd) noexcept;
long process_id() noexcept;
long long seconds_since_epoch() noexcept;

}  // namespace signal_safe

}  // namespace platform
