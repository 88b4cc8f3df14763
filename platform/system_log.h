// The system log, for errors that must outlive the parent process.
#pragma once

#include <string_view>

namespace platform {

// The local system log's socket.
inline constexpr const char* system_log_socket = "/dev/log";

// Sends one error record from source "Nimbra" with event identity 0xC0000004
// to the system log listening at `socket_path`. Never fails visibly and is
// safe to call from a fatal-signal handler.
void report_system_error(std::string_view text,
                         const char* socket_path = system_log_socket) noexcept;

}  // namespace platform
