#include "util/error_output.h"

#include <cstdio>

namespace util {

void write_error_line(std::string_view line) noexcept {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace util
