// A picture drawn once for each display scale, each size a bitmap resource of its own, shown in a
// static bitmap control at its window's scale. The dialog manager loads a template's picture at
// its real size whatever the scale; this swaps in the one drawn for the scale, again whenever the
// window's DPI changes, and owns the bitmap it gave the control (and destroys the ones the control
// gives back).
#pragma once

#include <windows.h>

#include <cstddef>

#include "ui/gdi.h"

namespace ui {

// The first static control of `type` (SS_BITMAP, SS_ICON) among the children of `dialog`, or
// null.
HWND picture_control(HWND dialog, DWORD type) noexcept;
// The first static bitmap control among the children of `dialog`, or null.
inline HWND bitmap_control(HWND dialog) noexcept { return picture_control(dialog, SS_BITMAP); }

class scaled_picture {
 public:
  // The picture whose bitmap at kPictureScales[i] is resource `first_id` + i of `module`.
  scaled_picture(HINSTANCE module, UINT first_id) noexcept : module_(module), first_id_(first_id) {}

  // Shows the picture drawn for `dpi` in the static bitmap control `control`, which takes the
  // picture's size and keeps its place. False (and the control unchanged) when that bitmap cannot
  // be loaded.
  bool show(HWND control, UINT dpi) noexcept;

  // The index in kPictureScales of the picture shown; 0 before the first show.
  std::size_t scale_index() const noexcept { return scale_index_; }

 private:
  HINSTANCE module_;
  UINT first_id_;
  std::size_t scale_index_ = 0;
  unique_gdi_object shown_;
};

}  // namespace ui
