// A fixed-capacity text buffer that never allocates, for building messages
// inside fatal-signal handlers. Text beyond the capacity is cut off.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform {

template <size_t Capacity>
class SignalSafeText {
public:
    SignalSafeText& append(std::string_view text) noexcept {
        for (char c : text) {
            if (size_ == Capacity - 1) {
                break;
            }
            buffer_[size_++] = c;
        }
        buffer_[size_] = '\0';
        return *this;
    }

    SignalSafeText& append_decimal(uint64_t value) noexcept { return append_digits(value, 10, 1); }

    // At least `width` hexadecimal digits, without a prefix.
    SignalSafeText& append_hex(uint64_t value, int width = 1) noexcept {
        return append_digits(value, 16, width);
    }

    const char* data() const noexcept { return buffer_; }
    size_t size() const noexcept { return size_; }
    std::string_view view() const noexcept { return {buffer_, size_}; }

private:
    SignalSafeText& append_digits(uint64_t value, unsigned base, int width) noexcept {
        char digits[24];
        int count = 0;
        do {
            digits[count++] = "0123456789abcdef"[value % base];
            value /= base;
        } while ((value != 0 || count < width) && count < 20);
        char ordered[24];
        for (int i = 0; i < count; ++i) {
            ordered[i] = digits[count - 1 - i];
        }
        return append({ordered, static_cast<size_t>(count)});
    }

    char buffer_[Capacity] = {};
    size_t size_ = 0;
};

}  // namespace platform
