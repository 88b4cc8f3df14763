#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "error/assert.h"
#include "io/error.h"
#include "io/selectable.h"
#include "platform/descriptor.h"
#include "util/system_error.h"

namespace io {

namespace {

// How long a wait looks without sleeping before it sleeps. A peer on
// another processor usually answers a request within tens of microseconds,
// while waking a sleeping process costs about as much again; with a single
// processor the peer needs it to answer, so the wait sleeps at once.
std::chrono::microseconds spin_time() {
    static const std::chrono::microseconds spin(std::thread::hardware_concurrency() > 1 ? 200 : 0);
    return spin;
}

int poll_spinning_first(std::vector<platform::PollItem>& items, int timeout_ms) {
    if (timeout_ms != 0 && !items.empty()) {
        const auto until = std::chrono::steady_clock::now() + spin_time();
        do {
            if (const int fired = platform::poll_descriptors(items, 0); fired != 0) {
                return fired;
            }
        } while (std::chrono::steady_clock::now() < until);
    }
    return platform::poll_descriptors(items, timeout_ms);
}

}  // namespace

bool Timer::isReady() {
    const util::TimeValue now = util::TimeValue::now();
    return now.seconds() > at_.seconds() ||
           (now.seconds() == at_.seconds() && now.microseconds() >= at_.microseconds());
}

bool StackedSelectableFront::isReady() { return back_.front_ready(); }

void StackedSelectableBack::watch(Selectable* lower, bool on) {
    error::require(lower != nullptr, "StackedSelectableBack underlying pointer is null");
    if (on) {
        watched_.insert(lower);
    } else {
        watched_.erase(lower);
    }
}

void Selector::add(Selectable& s) {
    if (std::find(added_.begin(), added_.end(), &s) != added_.end()) {
        error::assertion_failed(s.name() + " added twice to Selector");
    }
    added_.push_back(&s);
}

void Selector::remove(Selectable& s) {
    const auto found = std::find(added_.begin(), added_.end(), &s);
    if (found == added_.end()) {
        error::assertion_failed("Unknown " + s.name() + " removed twice from Selector");
    }
    added_.erase(found);
}

void Selector::refresh(Selectable& s, std::vector<Selectable*>& leaves) {
    StackedSelectableBack* back = s.back();
    if (back == nullptr) {
        s.prepare();
        leaves.push_back(&s);
        return;
    }
    // The back may change what it watches while it is told.
    const std::vector<Selectable*> lowers(back->watched().begin(), back->watched().end());
    for (Selectable* lower : lowers) {
        if (!back->watched().contains(lower)) {
            continue;
        }
        refresh(*lower, leaves);
        if (lower->isReady()) {
            back->underlyingIsReady(*lower);
        }
    }
}

Selectable& Selector::wait(bool poll) {
    for (;;) {
        std::vector<Selectable*> leaves;
        for (Selectable* s : std::vector<Selectable*>(added_)) {
            refresh(*s, leaves);
            if (s->isReady()) {
                return *s;
            }
        }
        std::vector<platform::PollItem> items;
        std::vector<Selectable*> polled;
        std::optional<util::TimeValue> earliest;
        for (Selectable* leaf : leaves) {
            if (const std::optional<util::TimeValue> d = leaf->deadline();
                d && (!earliest || *d <= *earliest)) {
                earliest = d;
            }
            const WaitHandle h = leaf->wait_handle();
            if (h.fd >= 0) {
                items.push_back({h.fd, h.read, h.write});
                polled.push_back(leaf);
            }
        }
        int timeout_ms = -1;
        if (earliest) {
            const util::TimeValue now = util::TimeValue::now();
            timeout_ms =
                *earliest <= now
                    ? 0
                    : static_cast<int>(std::min<double>(
                          std::ceil((*earliest - now).as_double() * 1000), 24.0 * 3600 * 1000));
        }
        if (poll) {
            timeout_ms = 0;
        } else if (items.empty() && !earliest) {
            // Nothing could ever wake this wait.
            throw ENotReady("Selectable " +
                            (added_.empty() ? "<unknown>" : added_.front()->name()) + " not ready");
        }
        const int fired = poll_spinning_first(items, timeout_ms);
        if (fired < 0) {
            util::raise_system_error("WaitForMultipleEvents returned error", -fired);
        }
        if (fired == 0 && poll) {
            throw ENotReady("Selectable <unknown> not ready");
        }
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i].fired) {
                polled[i]->handle_signalled();
            }
        }
    }
}

void waitReady(Selectable& s) { waitReady(s, util::TimeValue::never()); }

void waitReady(Selectable& s, util::TimeValue timeout) {
    if (s.isReady()) {
        return;
    }
    Selector selector;
    selector.add(s);
    if (timeout.seconds() < 0 || timeout == util::TimeValue()) {
        try {
            selector.wait(true);
            return;
        } catch (const ENotReady&) {
            throw ETimeout("Timeout waiting for " + s.name());
        }
    }
    Timer timer(util::TimeValue::now() + timeout);
    if (!timeout.is_never()) {
        selector.add(timer);
    }
    Selectable& ready = selector.wait();
    if (&ready == &timer) {
        throw ETimeout("Timeout waiting for " + s.name());
    }
    if (&ready != &s) {
        error::assertion_failed("Got wrong selectable in waitReady: " + ready.name());
    }
}

}  // namespace io
