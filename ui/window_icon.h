// The large icon of a top-level window drawn for the window's scale: the program's icon resource
// loaded at the size of a large icon at the window's DPI (32 pixels at 100 %, 48 at 150 %), given
// to the window and owned here until a later one replaces it. The system makes the small icon of
// the title bar from it.
#pragma once

#include <windows.h>

#include "ui/gdi.h"

namespace ui {

class window_icon {
 public:
  // The icon resource `id` of `module`.
  window_icon(HINSTANCE module, UINT id) noexcept : module_(module), id_(id) {}

  // Gives `window` the icon at the large-icon size for `dpi`; false (and the window's icon
  // unchanged) when the resource cannot be loaded.
  bool apply(HWND window, UINT dpi) noexcept;

  // The edge of the icon given last, in pixels; 0 before.
  int edge() const noexcept { return edge_; }

 private:
  HINSTANCE module_;
  UINT id_;
  int edge_ = 0;
  unique_icon icon_;
};

}  // namespace ui
