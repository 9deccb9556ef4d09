// Ownership of a Win32 kernel handle: closed exactly once when its owner goes away.
#pragma once

#include <windows.h>

#include <utility>

namespace engine {

class win_handle {
 public:
  win_handle() noexcept = default;
  explicit win_handle(HANDLE h) noexcept : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  win_handle(win_handle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  win_handle& operator=(win_handle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.h_, nullptr));
    return *this;
  }
  win_handle(const win_handle&) = delete;
  win_handle& operator=(const win_handle&) = delete;
  ~win_handle() { reset(); }

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

}  // namespace engine
