// Owners for the device-context state the dialog layer borrows: a window's device context,
// released on destruction, and an object selected into a context, deselected on destruction.
#pragma once

#include <windows.h>

namespace ui {

class window_dc {
 public:
  explicit window_dc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
  ~window_dc() {
    if (dc_) ::ReleaseDC(window_, dc_);
  }
  window_dc(const window_dc&) = delete;
  window_dc& operator=(const window_dc&) = delete;

  HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// Selects `object` into `dc` while it lives (nothing when `object` is null).
class selected_object {
 public:
  selected_object(HDC dc, HGDIOBJ object) noexcept
      : dc_(dc), previous_(object ? ::SelectObject(dc, object) : nullptr) {}
  ~selected_object() {
    if (previous_) ::SelectObject(dc_, previous_);
  }
  selected_object(const selected_object&) = delete;
  selected_object& operator=(const selected_object&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace ui
