#include "tools/operator_words.h"

#include <string_view>

namespace tools {

namespace {

// Replaces every `from` in the text by `to`.
std::string replaced(std::string text, std::string_view from, std::string_view to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

}  // namespace

std::string in_operator_words(const std::string& text) {
    std::string said =
        replaced(text, "Invalid magic in header", "not a database file (tsdbctl init makes one)");
    said = replaced(said, "Device or resource busy",
                    "held by a database process; stop it first (list, describe, get, last, "
                    "oldest, checksum, extract, graph, dump and diff read it while it runs)");
    const std::string_view unallocated = "Referenced unallocated check_id (";
    const size_t at = said.find(unallocated);
    const size_t end = at == std::string::npos ? at : said.find(')', at);
    if (end != std::string::npos) {
        const std::string id = said.substr(at + unallocated.size(), end - at - unallocated.size());
        said.replace(at, end + 1 - at,
                     "series " + id + " does not exist (tsdbctl list shows those that do)");
    }
    return said;
}

}  // namespace tools
