#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>

extern char** environ;

namespace platform {

int current_pid() noexcept { return getpid(); }
int parent_pid() noexcept { return getppid(); }

int watch_process(int pid) noexcept {
#ifdef SYS_pidfd_open
    const long fd = syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(fd);
    }
#endif
    return -1;
}

bool is_terminal(int fd) noexcept { return isatty(fd) == 1; }

void ignore_broken_pipes() noexcept { std::signal(SIGPIPE, SIG_IGN); }

void ignore_file_size_limit() noexcept { std::signal(SIGXFSZ, SIG_IGN); }

std::optional<std::string> environment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

int spawn(const std::string& path, const std::vector<std::string>& arguments,
          const std::vector<std::pair<std::string, std::string>>& environment,
          const std::vector<int>& inherited, const std::string& error_output) {
    for (int fd : inherited) {
        fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) & ~FD_CLOEXEC);
    }
    std::vector<std::string> strings;
    for (char** e = environ; *e != nullptr; ++e) {
        strings.emplace_back(*e);
    }
    for (const auto& [key, value] : environment) {
        strings.push_back(key + "=" + value);
    }
    std::vector<char*> envp;
    envp.reserve(strings.size() + 1);
    for (std::string& s : strings) {
        envp.push_back(s.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args{path};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& s : args) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!error_output.empty()) {
        // A symbolic link put in its place is refused, not followed.
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, error_output.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
    }
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -failed;
}

std::optional<int> wait_for_exit(int pid, int timeout_ms) {
    for (int waited = 0;; waited += 5) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
        }
        if (done < 0 || waited >= timeout_ms) {
            return std::nullopt;
        }
        const timespec pause{0, 5'000'000};
        nanosleep(&pause, nullptr);
    }
}

void kill_process(int pid, int signal) noexcept { kill(pid, signal); }

std::string host_name() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == 0) {
        return "localhost";
    }
    return name;
}

namespace {

std::atomic<bool>* stop_flag = nullptr;

void set_stop_flag(int) { stop_flag->store(true); }

}  // namespace

void stop_on_termination(std::atomic<bool>& stopping) noexcept {
    stop_flag = &stopping;
    std::signal(SIGTERM, set_stop_flag);
    std::signal(SIGINT, set_stop_flag);
}

}  // namespace platform
