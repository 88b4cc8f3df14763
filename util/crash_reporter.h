// The crash reporter: on a fatal fault it writes a readable dump file next to
// the program (its path with the extension replaced by "dmp") and hands a
// message naming the file to a report function.
#pragma once

#include <optional>
#include <string>

namespace util {

// Receives the reporter's message. Runs inside a fatal-signal handler, so it
// must be async-signal-safe.
using CrashReportFunction = void (*)(const char* message) noexcept;

// Installs the reporter; call it before the program's main work. Without a
// report function the message goes to the error output under "Dump generated".
void install_crash_reporter(CrashReportFunction report = nullptr);

// The dump file's name for a program at `program_path`: the text after the
// file name's last "." becomes "dmp" (".dmp" is appended when there is no
// "."); "tarquell.dmp" when the path is unknown.
std::string dump_file_name(const std::optional<std::string>& program_path);

}  // namespace util
