// Failure classes shared by every layer: one base carrying a text, and the
// general families raised by the process utilities and the containers.
#pragma once

#include <string>
#include <utility>

namespace error {

// Abstract base of every failure this system raises on purpose. The text is
// what log lines and failure replies carry.
class Exception {
public:
    explicit Exception(std::string text) : text_(std::move(text)) {}
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;
    virtual ~Exception() = 0;

    const std::string& text() const noexcept { return text_; }

private:
    std::string text_;
};

inline Exception::~Exception() = default;

// The process cannot go on after this.
class EFatal : public Exception {
public:
    using Exception::Exception;
};

// A system call or the environment failed.
class ESystemError : public Exception {
public:
    using Exception::Exception;
};

class EFileNotFoundError : public ESystemError {
public:
    using ESystemError::ESystemError;
};

class EFileExistsError : public ESystemError {
public:
    using ESystemError::ESystemError;
};

// A number could not be parsed.
class EParseError : public Exception {
public:
    using Exception::Exception;
};

// A container was used beyond its bounds.
class ERange : public Exception {
public:
    using Exception::Exception;
};

}  // namespace error
