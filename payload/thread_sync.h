// A lock and a condition for the payload decoder's helper threads, on the system's slim
// reader/writer lock and condition variable: under the lock nothing but user-mode atomics run
// while it is free, and a wait blocks only the waiting thread.
#pragma once

#include <windows.h>

namespace engine {

class sync_lock {
 public:
  sync_lock() = default;
  sync_lock(const sync_lock&) = delete;
  sync_lock& operator=(const sync_lock&) = delete;
  void lock() noexcept { ::AcquireSRWLockExclusive(&lock_); }
  void unlock() noexcept { ::ReleaseSRWLockExclusive(&lock_); }

 private:
  friend class sync_condition;
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class sync_condition {
 public:
  sync_condition() = default;
  sync_condition(const sync_condition&) = delete;
  sync_condition& operator=(const sync_condition&) = delete;
  // Waits, with `lock` held on entry and on return, until `ready()` holds.
  template <typename Predicate>
  void wait(sync_lock& lock, Predicate ready) {
    while (!ready()) ::SleepConditionVariableSRW(&condition_, &lock.lock_, INFINITE, 0);
  }
  void notify_all() noexcept { ::WakeAllConditionVariable(&condition_); }

 private:
  CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
};

}  // namespace engine
