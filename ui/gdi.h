// Owners for the device-context state and the images the dialog layer borrows or keeps: a
// window's device context, released on destruction; a memory device context, deleted; an object
// selected into a context, deselected on destruction; a GDI object (a bitmap) and an icon,
// destroyed with their owner.
#pragma once

#include <windows.h>

#include "nv/unique_handle.h"

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

struct gdi_object_traits {
  using type = HGDIOBJ;
  static HGDIOBJ normalize(HGDIOBJ object) noexcept { return object; }
  static void close(HGDIOBJ object) noexcept { ::DeleteObject(object); }
};
using unique_gdi_object = nv::unique_resource<gdi_object_traits>;

struct memory_dc_traits {
  using type = HDC;
  static HDC normalize(HDC dc) noexcept { return dc; }
  static void close(HDC dc) noexcept { ::DeleteDC(dc); }
};
using unique_memory_dc = nv::unique_resource<memory_dc_traits>;

struct icon_traits {
  using type = HICON;
  static HICON normalize(HICON icon) noexcept { return icon; }
  static void close(HICON icon) noexcept { ::DestroyIcon(icon); }
};
using unique_icon = nv::unique_resource<icon_traits>;

}  // namespace ui
