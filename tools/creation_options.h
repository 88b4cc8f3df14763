// The options that make a new database file, shared by `tsdbctl init` and
// tsdb-mkdb so that both take the same words with the same defaults and say
// the same thing when done.
#pragma once

#include <string>

#include "tools/command_line.h"
#include "tsdb/file/creation.h"

namespace tools {

CommandRules database_creation_rules();
// Throws UsageError for a value out of range.
tsdb::NewDatabase new_database(const std::string& path, const Arguments& arguments);
// "created PATH: ..." once the file is made.
std::string creation_summary(const tsdb::NewDatabase& made);

}  // namespace tools
