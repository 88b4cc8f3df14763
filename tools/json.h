// JSON text for the operator programs' --format json and --json output,
// written through a well-kept library, so that any text (invalid UTF-8
// included) gives valid JSON.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tools {

class Json {
public:
    Json();
    ~Json();
    Json(const Json&) = delete;
    Json& operator=(const Json&) = delete;

    Json& begin_object();
    Json& end_object();
    Json& begin_array();
    Json& end_array();
    Json& key(std::string_view name);
    // Bytes that are not UTF-8 become U+FFFD.
    Json& value(std::string_view text);
    Json& value(const char* text) { return value(std::string_view(text)); }
    Json& value(uint64_t number);
    Json& value(int64_t number);
    // null for not-a-number and infinities.
    Json& value(double number);
    Json& value(bool flag);
    // A number already written as text (the shortest form that reads back
    // the same), or null for an empty text.
    Json& number(std::string_view token);

    // The document, once every object and array is closed.
    const std::string& text() const;

private:
    struct Tree;
    std::unique_ptr<Tree> tree_;
    mutable std::string text_;
};

}  // namespace tools
