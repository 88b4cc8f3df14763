// Processes: this one, its parent, and children started by a parent.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace platform {

int current_pid() noexcept;
int parent_pid() noexcept;
// A descriptor that becomes readable when the process ends, or -1 where the
// system has none.
int watch_process(int pid) noexcept;
// Writing to a pipe whose reader is gone fails with EPIPE instead of killing.
void ignore_broken_pipes() noexcept;
// Writing past the process's file-size limit fails with EFBIG instead of
// killing.
void ignore_file_size_limit() noexcept;
// Whether the descriptor is a terminal (standard error is 2).
bool is_terminal(int fd) noexcept;
// Value of an environment variable.
std::optional<std::string> environment(const std::string& name);

// Starts `path` with `arguments` (argv[1]...) and `environment` added to the
// current one; the descriptors in `inherited` stay open in the child. Its
// error output goes to the file `error_output` (made or emptied) unless that
// is empty. The pid, or -errno.
int spawn(const std::string& path, const std::vector<std::string>& arguments,
          const std::vector<std::pair<std::string, std::string>>& environment,
          const std::vector<int>& inherited, const std::string& error_output = "");
// The child's exit status once it has ended within `timeout_ms`: the exit
// code, or 128 + the signal that ended it.
std::optional<int> wait_for_exit(int pid, int timeout_ms);
void kill_process(int pid, int signal) noexcept;

// This machine's name; "localhost" when it has none.
std::string host_name();
// SIGTERM and SIGINT set `stopping` instead of ending the process.
void stop_on_termination(std::atomic<bool>& stopping) noexcept;

}  // namespace platform
