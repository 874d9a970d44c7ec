// Process-wide singleton created on first use under a global lock, testing
// for the instance again inside the lock. Never destroyed.
#pragma once
#include <atomic>
#include <mutex>

template <class T>
class TzSingleTon {
 public:
  static T* GetInstance() {
    T* p = instance_.load(std::memory_order_acquire);
    if (p) return p;
    std::lock_guard<std::mutex> g(lock_);
    p = instance_.load(std::memory_order_relaxed);
    if (!p) {
      p = new (std::nothrow) T();
      instance_.store(p, std::memory_order_release);
    }
    return p;
  }

 protected:
  TzSingleTon() = default;

 private:
  static std::atomic<T*> instance_;
  static std::mutex lock_;
};

template <class T> std::atomic<T*> TzSingleTon<T>::instance_{nullptr};
template <class T> std::mutex TzSingleTon<T>::lock_;
