#include "platform/fault.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <vector>

namespace platform {

namespace {

FaultHandler installed_handler = nullptr;

constexpr int fatal_signals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};

const char* signal_cause(int signal) noexcept {
    switch (signal) {
        case SIGSEGV:
            return "SIGSEGV (invalid memory access)";
        case SIGBUS:
            return "SIGBUS (bus error)";
        case SIGILL:
            return "SIGILL (illegal instruction)";
        case SIGFPE:
            return "SIGFPE (arithmetic fault)";
        default:
            return "fatal signal";
    }
}

void on_fatal_signal(int signal, siginfo_t* info, void*) {
    if (installed_handler != nullptr) {
        installed_handler({signal, signal_cause(signal), info->si_addr});
    }
    // The disposition was reset on entry: raising again ends the process.
    raise(signal);
}

[[noreturn]] void on_terminate() noexcept {
    if (installed_handler != nullptr) {
        installed_handler({SIGABRT, "uncaught exception", nullptr});
    }
    signal(SIGABRT, SIG_DFL);
    std::abort();
}

void use_alternate_stack() {
    // A crash from a stack overflow needs a stack of its own.
    static std::vector<char> stack(std::max<size_t>(SIGSTKSZ, size_t{64} * 1024));
    stack_t alternate{};
    alternate.ss_sp = stack.data();
    alternate.ss_size = stack.size();
    sigaltstack(&alternate, nullptr);
}

}  // namespace

void install_fault_handler(FaultHandler handler) {
    installed_handler = handler;
    // The first backtrace loads the unwinder, which may allocate; do it now.
    void* frames[4];
    (void)backtrace(frames, 4);
    use_alternate_stack();

    struct sigaction action {};
    action.sa_sigaction = on_fatal_signal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signal : fatal_signals) {
        sigaction(signal, &action, nullptr);
    }
    std::set_terminate(on_terminate);
}

std::optional<std::string> program_path() {
    std::string path(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size()) {
        return std::nullopt;
    }
    path.resize(static_cast<size_t>(length));
    return path;
}

namespace signal_safe {

int create_file(const char* path, int& error) noexcept {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    error = fd < 0 ? errno : 0;
    return fd;
}

bool write_all(int fd, std::string_view text, int& error) noexcept {
    while (!text.empty()) {
        const ssize_t written = write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            error = written < 0 ? errno : EIO;
            return false;
        }
        text.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

void close_file(int fd) noexcept { close(fd); }

void write_backtrace(int fd) noexcept {
    void* frames[64];
    const int count = backtrace(frames, 64);
    backtrace_symbols_fd(frames, count, fd);
}

long process_id() noexcept { return static_cast<long>(getpid()); }

long long seconds_since_epoch() noexcept {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec);
}

}  // namespace signal_safe

}  // namespace platform

// A call of a pure virtual function is a crash like an invalid access, and
// goes to the same handler.
// NOLINTNEXTLINE(bugprone-reserved-identifier,readability-identifier-naming): the runtime's name
extern "C" void __cxa_pure_virtual() {
    raise(SIGSEGV);
    std::abort();
}
