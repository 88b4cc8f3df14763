// A full consistency check of an open database, for the inspector and the
// tests: every block has at most one owner, levels lie inside the file,
// series point at allocated levels whose lists neither loop nor share a
// level, and ring positions lie inside their levels.
#pragma once

#include <string>
#include <vector>

namespace tsdb {

class Database;

struct ConsistencyFindings {
    // Damage: one line per problem; empty when the database is consistent.
    std::vector<std::string> problems;
    // States a crash leaves that the next open completes, each saying what
    // the open will do: a deletion whose levels were released but whose
    // series was not, levels no series lists yet or any more.
    std::vector<std::string> completed_at_open;
};

ConsistencyFindings check_consistency(const Database& db);
// check_consistency's problems.
std::vector<std::string> find_problems(const Database& db);

}  // namespace tsdb
