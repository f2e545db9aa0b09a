// A recursive lock with the Windows critical section's operations; the owner
// may enter again and leaves as often as it entered.
#pragma once

#include <mutex>

namespace qel::platform {

class CriticalSection {
  public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }
    bool TryEnter() { return mutex_.try_lock(); }

    // Lockable, for std::unique_lock and std::condition_variable_any.
    void lock() { Enter(); }
    void unlock() { Leave(); }
    bool try_lock() { return TryEnter(); }

  private:
    std::recursive_mutex mutex_;
};

// Holds a critical section for one scope.
class CriticalSectionLock {
  public:
    explicit CriticalSectionLock(CriticalSection& section) : section_(section) { section_.Enter(); }
    ~CriticalSectionLock() { section_.Leave(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

  private:
    CriticalSection& section_;
};

}  // namespace qel::platform
