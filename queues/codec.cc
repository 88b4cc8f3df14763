#include "queues/codec.h"

#include <cstdio>

#include "util/format.h"

namespace protocol {

std::string indent(unsigned level) { return std::string(size_t{level} * 2, ' '); }

std::string printable(const std::string& s) {
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F) {
            return util::quote(s);
        }
    }
    return s;
}

std::string float_text(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", v);
    return text;
}

}  // namespace protocol
