#pragma once

#include <atomic>
#include <mutex>

// The one instance of T, made on first use and deleted on request. T derives from
// CSingleton<T> and makes it a friend so that only Instance() constructs it.
template <typename T>
class CSingleton {
  public:
    virtual ~CSingleton() = default;
    CSingleton(const CSingleton&) = delete;
    CSingleton& operator=(const CSingleton&) = delete;

    static T* Instance() {
        T* current = instance.load(std::memory_order_acquire);
        if (current == nullptr) {
            // Creation happens on the UI thread before any worker exists; the lock only
            // keeps a late caller on another thread from making a second instance.
            std::lock_guard<std::mutex> guard(creation);
            current = instance.load(std::memory_order_relaxed);
            if (current == nullptr) {
                current = new T();
                instance.store(current, std::memory_order_release);
            }
        }
        return current;
    }

    static void DestroyInstance() {
        std::lock_guard<std::mutex> guard(creation);
        delete instance.exchange(nullptr, std::memory_order_acq_rel);
    }

  protected:
    CSingleton() = default;

  private:
    static inline std::atomic<T*> instance{nullptr};
    static inline std::mutex creation;
};
