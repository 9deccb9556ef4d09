// Ownership of COM objects: an interface pointer released exactly once by its owner, and the
// apartment of the calling thread entered for one scope and left when the scope ends.
#pragma once

#include <objbase.h>
#include <unknwn.h>

#include <utility>

namespace nv {

// An owned interface pointer of type T (null when empty). Released when the owner goes.
template <class T>
class com_ptr {
 public:
  com_ptr() noexcept = default;
  com_ptr(com_ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  com_ptr& operator=(com_ptr&& other) noexcept {
    if (this != &other) reset(std::exchange(other.p_, nullptr));
    return *this;
  }
  com_ptr(const com_ptr&) = delete;
  com_ptr& operator=(const com_ptr&) = delete;
  ~com_ptr() { reset(); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  // Releases the held pointer (if any) and takes ownership of `p`.
  void reset(T* p = nullptr) noexcept {
    if (p_) p_->Release();
    p_ = p;
  }

  // Slot for an out-parameter of type void** (CoCreateInstance, QueryInterface); releases the
  // pointer held before.
  void** put_void() noexcept {
    reset();
    return reinterpret_cast<void**>(&p_);
  }

 private:
  T* p_ = nullptr;
};

// CoInitialize for the lifetime of the object; CoUninitialize when it ends, but only if the call
// succeeded (S_OK or S_FALSE), which keeps the calls balanced on every path.
class com_apartment {
 public:
  com_apartment() noexcept : result_(::CoInitialize(nullptr)) {}
  ~com_apartment() {
    if (entered()) ::CoUninitialize();
  }
  com_apartment(const com_apartment&) = delete;
  com_apartment& operator=(const com_apartment&) = delete;

  // True when CoInitialize returned S_OK or S_FALSE; any other result (a thread already in a
  // multi-threaded apartment, out of memory) means no COM call may follow.
  bool entered() const noexcept { return result_ == S_OK || result_ == S_FALSE; }
  HRESULT result() const noexcept { return result_; }

 private:
  HRESULT result_;
};

}  // namespace nv
