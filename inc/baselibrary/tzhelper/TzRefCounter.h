// Intrusive reference counting. Objects start at 0 and their creator takes the
// first reference; the object deletes itself (through its virtual destructor)
// when the count drops to 0, on whichever thread drops it.
#pragma once
#include <atomic>
#include <cstdint>
#include <utility>

template <class T>
class TzRefCounterBase {
 public:
  void AddRef() { m_refCount.fetch_add(1, std::memory_order_relaxed); }
  // Returns the new count; the object is gone when it returns 0.
  uint32_t Release() {
    uint32_t n = m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (n == 0) delete static_cast<T*>(this);
    return n;
  }
  uint32_t RefCount() const { return m_refCount.load(std::memory_order_relaxed); }

 protected:
  TzRefCounterBase() = default;
  virtual ~TzRefCounterBase() = default;
  TzRefCounterBase(const TzRefCounterBase&) = delete;
  TzRefCounterBase& operator=(const TzRefCounterBase&) = delete;

 private:
  std::atomic<uint32_t> m_refCount{0};
};

// Counted smart pointer over anything with AddRef/Release. Copy adds a
// reference, reset and destruction drop one. Sptr names in the library are
// aliases of this (SptrSession, SptrPostMsgContext, ...).
template <class T>
class TzSptr {
 public:
  TzSptr() = default;
  TzSptr(std::nullptr_t) {}
  // Takes a new reference on p.
  explicit TzSptr(T* p) : p_(p) { if (p_) p_->AddRef(); }
  TzSptr(const TzSptr& o) : p_(o.p_) { if (p_) p_->AddRef(); }
  TzSptr(TzSptr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  template <class U>
  TzSptr(const TzSptr<U>& o) : p_(o.get()) { if (p_) p_->AddRef(); }
  ~TzSptr() { reset(); }
  TzSptr& operator=(const TzSptr& o) { TzSptr(o).swap(*this); return *this; }
  TzSptr& operator=(TzSptr&& o) noexcept { TzSptr(std::move(o)).swap(*this); return *this; }
  TzSptr& operator=(std::nullptr_t) { reset(); return *this; }

  // Adopts p without adding a reference (p's reference is handed over).
  static TzSptr Adopt(T* p) { TzSptr s; s.p_ = p; return s; }
  // Gives up ownership without dropping the reference.
  T* Detach() { T* p = p_; p_ = nullptr; return p; }

  void reset() { T* p = p_; p_ = nullptr; if (p) p->Release(); }
  void swap(TzSptr& o) noexcept { std::swap(p_, o.p_); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  bool operator==(const TzSptr& o) const { return p_ == o.p_; }
  bool operator!=(const TzSptr& o) const { return p_ != o.p_; }

 private:
  T* p_ = nullptr;
};
