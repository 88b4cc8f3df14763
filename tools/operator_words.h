// The engine's wording of a failure, put in an operator's terms: "not a
// database file", "held by a database process", "series N does not exist",
// each with what to do next. Other texts pass unchanged.
#pragma once

#include <string>

namespace tools {

std::string in_operator_words(const std::string& text);

}  // namespace tools
