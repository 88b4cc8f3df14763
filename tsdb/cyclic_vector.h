// A ring of records allocated once for a fixed capacity.
#pragma once

#include <cstddef>
#include <vector>

#include "error/exception.h"

namespace tsdb {

template <typename T>
class cyclic_vector {
public:
    explicit cyclic_vector(size_t capacity) : slots_(capacity + 1) {}

    size_t capacity() const { return slots_.size() - 1; }
    size_t size() const { return (write_ + slots_.size() - read_) % slots_.size(); }
    bool empty() const { return write_ == read_; }
    bool full() const { return size() == capacity(); }

    void push(const T& value) {
        if (full()) {
            throw error::ERange("cyclic_vector push overflow");
        }
        slots_[write_] = value;
        write_ = (write_ + 1) % slots_.size();
    }
    // The newest record.
    T& peek_head() {
        if (empty()) {
            throw error::ERange("cyclic_vector peek_head underflow");
        }
        return slots_[(write_ + slots_.size() - 1) % slots_.size()];
    }
    // Removes and returns the oldest record.
    T pop() {
        if (empty()) {
            throw error::ERange("cyclic_vector pop underflow");
        }
        T oldest = slots_[read_];
        read_ = (read_ + 1) % slots_.size();
        return oldest;
    }
    // The oldest record, left in place.
    const T& peek() const {
        if (empty()) {
            throw error::ERange("cyclic_vector const peek underflow");
        }
        return slots_[read_];
    }
    // The i-th record from the oldest.
    const T& at(size_t i) const { return slots_[(read_ + i) % slots_.size()]; }

private:
    std::vector<T> slots_;
    size_t write_ = 0;
    size_t read_ = 0;
};

}  // namespace tsdb
