// Memory for objects made and dropped by the thousand, as the intervals of
// every read are: freed objects of a class are kept (up to a bound, per
// thread) for the next new one instead of going back to the heap. Under
// AddressSanitizer the heap is used directly, so that it sees every use.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace queues {

// Whether AddressSanitizer watches the heap (GCC and clang say it apart).
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool heap_checked = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool heap_checked = true;
#else
inline constexpr bool heap_checked = false;
#endif
#else
inline constexpr bool heap_checked = false;
#endif

template <typename T>
struct Recycled {
    static void* operator new(size_t size) {
        std::vector<void*>& kept = free_list();
        if (size != sizeof(T) || kept.empty()) {
            return ::operator new(size);
        }
        void* p = kept.back();
        kept.pop_back();
        return p;
    }
    static void operator delete(void* p, size_t size) {
        std::vector<void*>& kept = free_list();
        if (size != sizeof(T) || kept.size() >= kept_at_most || !recycling) {
            ::operator delete(p);
            return;
        }
        kept.push_back(p);
    }

private:
    static constexpr size_t kept_at_most = size_t{1} << 16;
    static constexpr bool recycling = !heap_checked;

    static std::vector<void*>& free_list() {
        thread_local std::vector<void*> kept;
        return kept;
    }
};

}  // namespace queues
