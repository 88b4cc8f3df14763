// A full consistency check of an open database, for the inspector and the
// tests: every block has at most one owner, levels lie inside the file,
// series point at allocated levels whose lists neither loop nor share a
// level, and ring positions lie inside their levels.
#pragma once

#include <string>
#include <vector>

namespace tsdb {

class Database;

// One line per problem; empty when the database is consistent.
std::vector<std::string> find_problems(const Database& db);

}  // namespace tsdb
