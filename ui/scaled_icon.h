// An icon drawn for a window's scale: the program's icon resource loaded at the size of a large
// icon at the window's DPI (32 pixels at 100 %, 48 at 150 %), given to a window as its large icon
// (the system makes the title bar's small one from it) or to a static icon control, and owned
// here until a later one replaces it.
#pragma once

#include <windows.h>

#include "ui/gdi.h"

namespace ui {

class scaled_icon {
 public:
  // The icon resource `id` of `module`.
  scaled_icon(HINSTANCE module, UINT id) noexcept : module_(module), id_(id) {}

  // Gives `window` the icon at the large-icon size for `dpi` as its large icon; false (and the
  // window's icon unchanged) when the resource cannot be loaded.
  bool show_as_window_icon(HWND window, UINT dpi) noexcept;
  // Shows the icon at the large-icon size for `dpi` in the static icon control `control`.
  bool show_in(HWND control, UINT dpi) noexcept;

  // The edge of the icon given last, in pixels; 0 before.
  int edge() const noexcept { return edge_; }

 private:
  // The icon at the large-icon size for `dpi`, kept as the one shown; null when it cannot be
  // loaded (the one shown before stays).
  HICON load(UINT dpi) noexcept;

  HINSTANCE module_;
  UINT id_;
  int edge_ = 0;
  unique_icon icon_;
  unique_icon previous_;
};

}  // namespace ui
