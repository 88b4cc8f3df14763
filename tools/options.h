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
// A new database's block count: from --size in bytes, with an optional K, M
// or G suffix ("64M", "100000000"), or from --blocks; 64M when neither is given.
uint32_t database_blocks(const std::optional<std::string>& size,
                         const std::optional<std::string>& blocks, uint32_t block_size);
// The database process refuses a path without a directory part.
std::string with_directory(const std::string& path);

}  // namespace tools
