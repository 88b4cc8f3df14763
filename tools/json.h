// A tiny writer of JSON text for the operator programs' --json output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tools {

class Json {
public:
    Json& begin_object() { return open('{'); }
    Json& end_object() { return close('}'); }
    Json& begin_array() { return open('['); }
    Json& end_array() { return close(']'); }
    Json& key(std::string_view name);
    Json& value(std::string_view text);
    Json& value(const char* text) { return value(std::string_view(text)); }
    Json& value(uint64_t number);
    Json& value(int64_t number);
    // Nine significant digits; null for not-a-number and infinities.
    Json& value(double number);
    Json& value(bool flag);
    // A number already written as text (the shortest form that reads back
    // the same), or null for an empty text.
    Json& number(std::string_view token);

    const std::string& text() const { return out_; }

private:
    Json& open(char bracket);
    Json& close(char bracket);
    void separate();

    std::string out_;
    bool first_ = true;
    bool after_key_ = false;
};

}  // namespace tools
