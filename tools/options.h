// Small helpers shared by the operator programs: reading option values and
// naming files the way the database process accepts them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "error/exception.h"

namespace tools {

// Thrown for a bad command line; main prints it and exits with status 2.
struct UsageError {
    std::string text;
};

// Input that cannot be used (a malformed line of a data file, say); the
// text names where.
class EBadInput : public error::Exception {
public:
    using Exception::Exception;
};

// A whole number in [low, high]; the option's name goes into the error.
uint32_t parse_number(const std::string& option, const std::string& value, uint32_t low,
                      uint32_t high);
// The blocks in a size in bytes, with an optional K, M or G ("64M",
// "100000000"); throws UsageError for one that holds no block.
uint32_t blocks_of_size(const std::string& size, uint32_t block_size);
// The database process refuses a path without a directory part.
std::string with_directory(const std::string& path);
// A whole file's bytes; EBadInput "cannot read PATH".
std::string read_file(const std::string& path);

}  // namespace tools
