#include "platform/Event.h"

#include <algorithm>
#include <cassert>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace qel::platform {

// One mutex over all events: a wait on several events must test and take
// them as one step, and the events of this program are few. Never destroyed,
// so that events with static storage may outlive it at exit.
static std::mutex& EventMutex() {
    static std::mutex* const mutex = new std::mutex;
    return *mutex;
}

struct EventWaiter {
    std::condition_variable wake;
};

struct EventWait {
    static int Run(std::span<Event* const> events,
                   std::optional<std::chrono::steady_clock::time_point> deadline) {
        for (Event* e : events)
            if (!e)
                throw std::invalid_argument("WaitAny: null event");
        std::unique_lock<std::mutex> lock(EventMutex());
        const auto take = [&]() -> int {
            for (size_t i = 0; i < events.size(); ++i) {
                if (events[i]->signalled_) {
                    events[i]->signalled_ = false;
                    return static_cast<int>(i);
                }
            }
            return kWaitTimeout;
        };
        int index = take();
        if (index != kWaitTimeout || events.empty())
            return index;
        if (deadline && std::chrono::steady_clock::now() >= *deadline)
            return kWaitTimeout;

        EventWaiter waiter;
        for (Event* e : events) e->waiters_.push_back(&waiter);
        while ((index = take()) == kWaitTimeout) {
            if (!deadline) {
                waiter.wake.wait(lock);
            } else if (waiter.wake.wait_until(lock, *deadline) == std::cv_status::timeout) {
                index = take();  // a signal may have come with the timeout
                break;
            }
        }
        for (Event* e : events) {
            auto it = std::find(e->waiters_.begin(), e->waiters_.end(), &waiter);
            if (it != e->waiters_.end())
                e->waiters_.erase(it);
        }
        return index;
    }
};

Event::~Event() {
    std::lock_guard<std::mutex> lock(EventMutex());
    assert(waiters_.empty() && "event destroyed while a thread waits on it");
}

void Event::Set() {
    std::lock_guard<std::mutex> lock(EventMutex());
    signalled_ = true;
    for (EventWaiter* w : waiters_) w->wake.notify_one();
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(EventMutex());
    signalled_ = false;
}

void Event::Wait() {
    Event* self = this;
    EventWait::Run(std::span<Event* const>(&self, 1), std::nullopt);
}

bool Event::WaitFor(std::chrono::milliseconds timeout) {
    Event* self = this;
    return EventWait::Run(std::span<Event* const>(&self, 1),
                          std::chrono::steady_clock::now() + timeout) == 0;
}

int WaitAny(std::span<Event* const> events) {
    return EventWait::Run(events, std::nullopt);
}

int WaitAny(std::span<Event* const> events, std::chrono::milliseconds timeout) {
    return EventWait::Run(events, std::chrono::steady_clock::now() + timeout);
}

}  // namespace qel::platform
