// Ownership of a Win32 kernel handle: closed exactly once when its owner goes away.
#pragma once

#include <windows.h>

#include <utility>

namespace nv {

class unique_handle {
 public:
  unique_handle() noexcept = default;
  explicit unique_handle(HANDLE h) noexcept : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  unique_handle(unique_handle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  unique_handle& operator=(unique_handle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.h_, nullptr));
    return *this;
  }
  unique_handle(const unique_handle&) = delete;
  unique_handle& operator=(const unique_handle&) = delete;
  ~unique_handle() { reset(); }

  HANDLE get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != nullptr; }

  // Closes the owned handle, if any, and takes `h` (INVALID_HANDLE_VALUE counts as none).
  void reset(HANDLE h = nullptr) noexcept {
    if (h_) ::CloseHandle(h_);
    h_ = h == INVALID_HANDLE_VALUE ? nullptr : h;
  }

 private:
  HANDLE h_ = nullptr;
};

}  // namespace nv
