// Auto-reset events and waits on several of them: the stand-in for the
// Windows event objects the workers sleep on. Waiting blocks on a condition
// variable; nothing polls.
#pragma once

#include <chrono>
#include <initializer_list>
#include <span>
#include <vector>

namespace qel::platform {

// Set() leaves the event signalled until one wait takes it; that wait resets
// it. Several Set() calls before a wait count once.
class Event {
  public:
    explicit Event(bool signalled = false) : signalled_(signalled) {}
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // Blocks until signalled and takes the signal.
    void Wait();
    // False when the timeout passed without a signal.
    bool WaitFor(std::chrono::milliseconds timeout);

  private:
    friend struct EventWait;
    bool signalled_;
    std::vector<struct EventWaiter*> waiters_;
};

inline constexpr int kWaitTimeout = -1;

// Waits until one of the events is signalled and returns the index of the
// first signalled one in the given order (the order is the priority). Only
// that event is taken; the others keep their signal. kWaitTimeout when the
// timeout passed (or no events were given).
int WaitAny(std::span<Event* const> events);
int WaitAny(std::span<Event* const> events, std::chrono::milliseconds timeout);
inline int WaitAny(std::initializer_list<Event*> events) {
    return WaitAny(std::span<Event* const>(events.begin(), events.size()));
}
inline int WaitAny(std::initializer_list<Event*> events, std::chrono::milliseconds timeout) {
    return WaitAny(std::span<Event* const>(events.begin(), events.size()), timeout);
}

}  // namespace qel::platform
