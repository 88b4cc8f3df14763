#include "tools/json.h"

#include <cmath>
#include <cstdio>

namespace tools {

void Json::separate() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (!first_) {
        out_ += ',';
    }
    first_ = false;
}

Json& Json::open(char bracket) {
    separate();
    out_ += bracket;
    first_ = true;
    return *this;
}

Json& Json::close(char bracket) {
    out_ += bracket;
    first_ = false;
    return *this;
}

Json& Json::key(std::string_view name) {
    value(name);
    out_ += ':';
    after_key_ = true;
    return *this;
}

Json& Json::value(std::string_view text) {
    separate();
    out_ += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out_ += '\\';
            out_ += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out_ += escape;
        } else {
            out_ += c;
        }
    }
    out_ += '"';
    return *this;
}

Json& Json::value(uint64_t number) {
    separate();
    out_ += std::to_string(number);
    return *this;
}

Json& Json::value(int64_t number) {
    separate();
    out_ += std::to_string(number);
    return *this;
}

Json& Json::number(std::string_view token) {
    separate();
    out_ += token.empty() ? std::string_view("null") : token;
    return *this;
}

Json& Json::value(double number) {
    separate();
    if (!std::isfinite(number)) {
        out_ += "null";
        return *this;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", number);
    out_ += text;
    return *this;
}

Json& Json::value(bool flag) {
    separate();
    out_ += flag ? "true" : "false";
    return *this;
}

}  // namespace tools
