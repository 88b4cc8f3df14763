#include "util/crash_reporter.h"

#include <cstring>

#include "platform/fault.h"
#include "platform/signal_safe_text.h"

namespace util {

namespace {

namespace safe = platform::signal_safe;

// Fixed at installation: nothing may be allocated once the fault happened.
char dump_path[4096] = "tarquell.dmp";
CrashReportFunction report_function = nullptr;

using Text = platform::SignalSafeText<8192>;

void write_report(int fd, const platform::Fault& fault, int& error) noexcept {
    Text head;
    head.append("An application error has been detected.\n")
        .append("fault: ")
        .append(fault.cause)
        .append("\nsignal: ")
        .append_decimal(static_cast<uint64_t>(fault.signal))
        .append("\naddress: 0x")
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the address as a number
        .append_hex(reinterpret_cast<uintptr_t>(fault.address), 16)
        .append("\nprocess id: ")
        .append_decimal(static_cast<uint64_t>(safe::process_id()))
        .append("\ntime: ")
        .append_decimal(static_cast<uint64_t>(safe::seconds_since_epoch()))
        .append(" seconds since 1970-01-01 00:00:00 UTC\nbacktrace:\n");
    if (safe::write_all(fd, head.view(), error)) {
        safe::write_backtrace(fd);
    }
}

Text dump_message(const platform::Fault& fault) noexcept {
    Text message;
    int error = 0;
    const int fd = safe::create_file(dump_path, error);
    if (fd < 0) {
        message.append("Failed to create dump file '").append(dump_path).append("' (error ");
        return message.append_decimal(static_cast<uint64_t>(error)).append(")");
    }
    write_report(fd, fault, error);
    safe::close_file(fd);
    if (error != 0) {
        message.append("Failed to save dump file to '").append(dump_path).append("' (error ");
        return message.append_decimal(static_cast<uint64_t>(error)).append(")");
    }
    return message.append("An application error has been detected. Please report this ")
        .append("error and submit the dump file in '")
        .append(dump_path)
        .append("' along with your error report");
}

void on_fault(const platform::Fault& fault) noexcept {
    const Text message = dump_message(fault);
    if (report_function != nullptr) {
        report_function(message.data());
        return;
    }
    Text shown;
    shown.append("Dump generated: ").append(message.view()).append("\n");
    int error = 0;
    safe::write_all(2, shown.view(), error);
}

}  // namespace

std::string dump_file_name(const std::optional<std::string>& program_path) {
    if (!program_path) {
        return "tarquell.dmp";
    }
    const size_t name_start = program_path->find_last_of('/') + 1;
    const size_t dot = program_path->find_last_of('.');
    if (dot == std::string::npos || dot < name_start) {
        return *program_path + ".dmp";
    }
    return program_path->substr(0, dot + 1) + "dmp";
}

void install_crash_reporter(CrashReportFunction report) {
    const std::string path = dump_file_name(platform::program_path());
    if (path.size() < sizeof dump_path) {
        std::memcpy(dump_path, path.c_str(), path.size() + 1);
    }
    report_function = report;
    platform::install_fault_handler(on_fault);
}

}  // namespace util
