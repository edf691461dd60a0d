#pragma once

#include <mutex>

// The lock between the logging threads and the log window's timer. Not copyable; the
// program never enters it twice on one thread.
class Mutex {
  public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void Enter() { mutex.lock(); }
    void Leave() { mutex.unlock(); }

  private:
    std::mutex mutex;
};

// Holds the lock for the lifetime of the guard.
template <typename M>
class ScopedLock {
  public:
    explicit ScopedLock(M& lockable) : held(lockable) { held.Enter(); }
    ~ScopedLock() { held.Leave(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

  private:
    M& held;
};
