// Things the process waits for, and the selector that waits for them. The
// process is single-threaded: a selector blocks in one poll over every
// descriptor its selectables name, with the earliest deadline as time-out,
// and the descriptors' "completions" (the reads and writes of pipe streams)
// run inside that wait. A stacked front is made ready by its back, which
// watches lower selectables; the front is what users wait on.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "util/time_value.h"

namespace io {

class StackedSelectableBack;

struct WaitHandle {
    int fd = -1;
    bool read = false;
    bool write = false;
};

class Selectable {
public:
    virtual ~Selectable() = default;
    virtual std::string name() const = 0;
    // The descriptor to wait on, if any.
    virtual WaitHandle wait_handle() { return {}; }
    // Whether it can be served now without blocking.
    virtual bool isReady() = 0;
    // The descriptor fired; true when that was consumed internally and the
    // wait goes on, false to report the selectable.
    virtual bool handle_signalled() { return false; }
    // Called before every wait to start or refresh work.
    virtual void prepare() {}
    // When it becomes ready at a fixed time (timers only).
    virtual std::optional<util::TimeValue> deadline() { return std::nullopt; }
    // The back whose front this is; null for other selectables.
    virtual StackedSelectableBack* back() { return nullptr; }
};

// Ready when the current time reaches the deadline.
class Timer final : public Selectable {
public:
    explicit Timer(util::TimeValue at) : at_(at) {}
    std::string name() const override { return "Timer"; }
    bool isReady() override;
    std::optional<util::TimeValue> deadline() override { return at_; }

private:
    util::TimeValue at_;
};

class StackedSelectableFront final : public Selectable {
public:
    StackedSelectableFront(StackedSelectableBack& back, std::string name)
        : back_(back), name_(std::move(name)) {}
    std::string name() const override { return name_; }
    bool isReady() override;
    StackedSelectableBack* back() override { return &back_; }

private:
    StackedSelectableBack& back_;
    std::string name_;
};

class StackedSelectableBack {
public:
    explicit StackedSelectableBack(std::string front_name) : front_(*this, std::move(front_name)) {}
    virtual ~StackedSelectableBack() = default;
    StackedSelectableBack(const StackedSelectableBack&) = delete;
    StackedSelectableBack& operator=(const StackedSelectableBack&) = delete;

    // A watched lower selectable is ready.
    virtual void underlyingIsReady(Selectable& lower) = 0;

    StackedSelectableFront& front() { return front_; }
    bool front_ready() const { return front_ready_; }
    // Watches or stops watching a lower selectable (null is an assertion).
    void watch(Selectable* lower, bool on);
    const std::set<Selectable*>& watched() const { return watched_; }

protected:
    void set_front_ready(bool ready) { front_ready_ = ready; }

private:
    StackedSelectableFront front_;
    std::set<Selectable*> watched_;
    bool front_ready_ = false;
};

class Selector {
public:
    Selector() = default;
    Selector(const Selector&) = delete;
    Selector& operator=(const Selector&) = delete;

    // Adding twice is an assertion ("<name> added twice to Selector").
    void add(Selectable& s);
    void remove(Selectable& s);
    // One ready selectable; with `poll`, io::ENotReady instead of blocking.
    Selectable& wait(bool poll = false);

private:
    // Lets backs see their ready lower selectables; collects what to poll.
    void refresh(Selectable& s, std::vector<Selectable*>& leaves);

    std::vector<Selectable*> added_;
};
using BareSelector = Selector;

// Waits until the selectable is ready: without a time-out, or raising
// io::ETimeout ("Timeout waiting for " and its name) when `timeout` passes
// first (at once when it is 0 or less).
void waitReady(Selectable& s);
void waitReady(Selectable& s, util::TimeValue timeout);

}  // namespace io
