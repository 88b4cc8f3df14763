// An in-memory stream pair: bytes written and flushed on the output are read
// on the input, in areas of at most a chosen size, so that readers meet
// every way of splitting a message. For tests and in-process parents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/stream.h"

namespace io {

class MemoryPipe {
public:
    explicit MemoryPipe(size_t area_size = 4096, std::string name = "MemoryPipe");
    MemoryPipe(const MemoryPipe&) = delete;
    MemoryPipe& operator=(const MemoryPipe&) = delete;

    IStream& in() { return in_; }
    OStream& out() { return out_; }

    // Adds bytes as if written and flushed.
    void feed(const std::vector<uint8_t>& bytes);
    // After the flushed bytes are read, the input reports its end.
    void close() { closed_ = true; }
    // Bytes flushed and not yet read.
    size_t pending() const { return flushed_.size() - read_; }
    // Bytes flushed and not yet read, taken out of the pipe.
    std::vector<uint8_t> take();

private:
    class Input final : public IStream {
    public:
        explicit Input(MemoryPipe& pipe) : pipe_(pipe) {}
        std::string name() const override { return pipe_.name_; }
        bool isReady() override { return pipe_.pending() > 0 || pipe_.closed_; }
        Area<const uint8_t> readBegin() override;
        void readCommit(size_t n) override;

    private:
        MemoryPipe& pipe_;
    };
    class Output final : public OStream {
    public:
        explicit Output(MemoryPipe& pipe) : pipe_(pipe) {}
        std::string name() const override { return pipe_.name_; }
        bool isReady() override { return true; }
        Area<uint8_t> writeBegin() override;
        void writeCommit(size_t n) override;
        void flush() override;

    private:
        MemoryPipe& pipe_;
        std::vector<uint8_t> area_;
        std::vector<uint8_t> committed_;
    };

    void compact();

    size_t area_size_;
    std::string name_;
    std::vector<uint8_t> flushed_;
    size_t read_ = 0;
    bool closed_ = false;
    Input in_{*this};
    Output out_{*this};
};

}  // namespace io
