// How payload values go on the stream and into traces: one rule per kind of
// value. Integers and enumerations of 4 bytes, 64-bit integers and doubles of
// 8, booleans as a 4-byte 0 or 1, strings as a u64 length and the bytes,
// lists and sets as a u32 count and the elements, structures as their fields
// in order. A structure lists its fields once, in a static visit(self, f)
// calling f(name, field) for each, and all three rules follow from it.
#pragma once

#include <cstdint>
#include <ostream>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "queues/error.h"
#include "queues/ioprim.h"
#include "queues/queue.h"
#include "util/time_value.h"

namespace protocol {

// The fields of a structure; types that cannot carry a member visit (those
// of other layers) specialise this.
template <typename T>
struct fields {
    template <typename Self, typename F>
    requires requires(Self& s, F& f) { T::visit(s, f); }
    static void visit(Self& s, F&& f) { T::visit(s, f); }
};

template <typename T>
concept Structure = requires(T& t) {
    fields<T>::visit(t, [](const char*, auto&) {});
};

// Values with a stream form of their own.
template <typename T>
concept Custom = requires(const T& t, ioprim& io, std::ostream& out) {
    t.write_to(io);
    t.print_to(out, 0u);
};
template <typename T>
concept CustomReader = requires(T& t, ioprim& io) {
    t.read_from(io);
};

template <typename T>
struct is_list : std::false_type {};
template <typename E>
struct is_list<std::vector<E>> : std::true_type {};
template <typename E>
struct is_list<std::set<E>> : std::true_type {};

std::string indent(unsigned level);
// Strings print as they are when every byte is printable, else quoted.
std::string printable(const std::string& s);
std::string float_text(double v);

template <typename T>
void put(ioprim& io, const T& v);
template <typename T>
void get(ioprim& io, T& v);
// Prints v after a "name: " and ends the line; values of several lines
// print their inner lines at `level` + 1.
template <typename T>
void show(std::ostream& out, const T& v, unsigned level);

template <typename T>
void put(ioprim& io, const T& v) {
    if constexpr (Custom<T>) {
        v.write_to(io);
    } else if constexpr (Structure<T>) {
        fields<T>::visit(v, [&io](const char*, const auto& f) { put(io, f); });
    } else if constexpr (is_list<T>::value) {
        io.write_u32(static_cast<uint32_t>(v.size()));
        for (const auto& e : v) {
            put(io, e);
        }
    } else if constexpr (std::is_same_v<T, std::string>) {
        io.write_string(v);
    } else if constexpr (std::is_same_v<T, util::TimeValue>) {
        io.write_i32(v.seconds());
        io.write_i32(v.microseconds());
    } else if constexpr (std::is_same_v<T, bool>) {
        io.write_bool(v);
    } else if constexpr (std::is_same_v<T, float>) {
        io.write_f32(v);
    } else if constexpr (std::is_same_v<T, double>) {
        io.write_f64(v);
    } else if constexpr (sizeof(T) == 4) {
        io.write_u32(static_cast<uint32_t>(v));
    } else {
        static_assert(sizeof(T) == 8 && std::is_integral_v<T>);
        io.write_u64(static_cast<uint64_t>(v));
    }
}

template <typename T>
void get(ioprim& io, T& v) {
    if constexpr (CustomReader<T>) {
        v.read_from(io);
    } else if constexpr (Structure<T>) {
        fields<T>::visit(v, [&io](const char*, auto& f) { get(io, f); });
    } else if constexpr (is_list<T>::value) {
        v.clear();
        // Elements arrive one by one: memory grows only with the bytes read.
        for (uint32_t n = io.read_count(); n > 0; --n) {
            typename T::value_type e{};
            get(io, e);
            v.insert(v.end(), std::move(e));
        }
    } else if constexpr (std::is_same_v<T, std::string>) {
        v = io.read_string();
    } else if constexpr (std::is_same_v<T, util::TimeValue>) {
        const int32_t seconds = io.read_i32();
        const int32_t microseconds = io.read_i32();
        if (microseconds < 0) {
            throw EMalformedEvent("fdio >> time value: negative microseconds " +
                                  std::to_string(microseconds));
        }
        v = util::TimeValue(seconds, microseconds);
    } else if constexpr (std::is_same_v<T, bool>) {
        v = io.read_bool();
    } else if constexpr (std::is_same_v<T, float>) {
        v = io.read_f32();
    } else if constexpr (std::is_same_v<T, double>) {
        v = io.read_f64();
    } else if constexpr (sizeof(T) == 4) {
        v = static_cast<T>(io.read_u32());
    } else {
        v = static_cast<T>(io.read_u64());
    }
}

template <typename T>
void show(std::ostream& out, const T& v, unsigned level) {
    if constexpr (Custom<T>) {
        v.print_to(out, level);
    } else if constexpr (Structure<T>) {
        out << "{\n";
        fields<T>::visit(v, [&out, level](const char* name, const auto& f) {
            out << indent(level + 1) << name << ": ";
            show(out, f, level + 1);
        });
        out << indent(level) << "}\n";
    } else if constexpr (is_list<T>::value) {
        out << "vector {\n";
        for (const auto& e : v) {
            out << indent(level + 1);
            show(out, e, level + 1);
        }
        out << indent(level) << "}\n";
    } else if constexpr (std::is_same_v<T, std::string>) {
        out << printable(v) << "\n";
    } else if constexpr (std::is_same_v<T, util::TimeValue>) {
        out << v.text() << "\n";
    } else if constexpr (std::is_same_v<T, bool>) {
        out << (v ? "true" : "false") << "\n";
    } else if constexpr (std::is_floating_point_v<T>) {
        out << float_text(v) << "\n";
    } else if constexpr (std::is_same_v<T, queues::queue_t>) {
        out << queues::queue_name(v) << "\n";
    } else {
        out << std::to_string(v) << "\n";
    }
}

// A payload at `level`: a structure one field per line, any other value on
// one indented line.
template <typename T>
void print_payload(std::ostream& out, const T& v, unsigned level) {
    if constexpr (Structure<T> && !Custom<T>) {
        fields<T>::visit(v, [&out, level](const char* name, const auto& f) {
            out << indent(level) << name << ": ";
            show(out, f, level);
        });
    } else {
        out << indent(level);
        show(out, v, level);
    }
}

}  // namespace protocol
