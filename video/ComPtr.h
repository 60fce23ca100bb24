#pragma once
// Owns one reference to a COM object and releases it when the holder goes or
// is reset, so no early return leaks one. Windows only; the holder is used
// by one thread at a time, like the object it holds.
#include <unknwn.h>

#include <utility>

namespace mirandel {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }

  // Takes over a reference the caller already owns (an out-parameter that
  // cannot be given put()).
  static ComPtr adopt(T* p) {
    ComPtr out;
    out.p_ = p;
    return out;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // For a call that hands out a new reference; any held one is released first.
  T** put() {
    reset();
    return &p_;
  }
  // The same, for calls that take void**.
  void** putVoid() { return reinterpret_cast<void**>(put()); }

  void reset() {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }

  // Another interface of the same object; empty when it has none.
  template <typename U>
  ComPtr<U> as(REFIID iid) const {
    ComPtr<U> out;
    if (p_ != nullptr && FAILED(p_->QueryInterface(iid, out.putVoid()))) out.reset();
    return out;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace mirandel
