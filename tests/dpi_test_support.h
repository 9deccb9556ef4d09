// What the tests of the programs' windows share about display scales: moving a window to a
// monitor of another scale as the system tells it (the test sends WM_DPICHANGED itself: Wine
// shows every window on one monitor at one scale), and the sizes of what a window shows.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "ui/dialog.h"
#include "ui/gdi.h"

namespace nv_testing {

inline SIZE size_of(const RECT& r) { return {r.right - r.left, r.bottom - r.top}; }

inline RECT window_rect(HWND window) {
  RECT r{};
  ::GetWindowRect(window, &r);
  return r;
}

// Sends `window` WM_DPICHANGED for `dpi` with a suggested rectangle (the window's own, moved a
// little and grown by the scale), then dispatches what the window posted itself in answer.
// Returns the suggested rectangle.
inline RECT move_to_scale(HWND window, UINT dpi) {
  const RECT now = window_rect(window);
  const SIZE size = size_of(now);
  RECT suggested{now.left + 8, now.top + 8, 0, 0};
  suggested.right = suggested.left + ::MulDiv(size.cx, static_cast<int>(dpi), 96);
  suggested.bottom = suggested.top + ::MulDiv(size.cy, static_cast<int>(dpi), 96);
  ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
  MSG message;
  while (::PeekMessageW(&message, window, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
  return suggested;
}

// The size of the bitmap the static bitmap control `control` shows.
inline SIZE shown_bitmap(HWND control) {
  const auto bitmap =
      reinterpret_cast<HGDIOBJ>(::SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0));
  BITMAP info{};
  if (!bitmap || !::GetObjectW(bitmap, sizeof info, &info)) return {0, 0};
  return {info.bmWidth, info.bmHeight};
}

// The edge of `icon`'s image; 0 without an icon.
inline int icon_edge(HICON icon) {
  ICONINFO info{};
  if (!icon || !::GetIconInfo(icon, &info)) return 0;
  const ui::unique_gdi_object color(info.hbmColor), mask(info.hbmMask);
  BITMAP bitmap{};
  ::GetObjectW(color ? color.get() : mask.get(), sizeof bitmap, &bitmap);
  return bitmap.bmWidth;
}

// The edge of the window's large icon.
inline int large_icon_edge(HWND window) {
  return icon_edge(reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_BIG, 0)));
}

// The sizes each display scale draws the side picture, a flag and the image list's item at.
struct scale_sizes {
  UINT dpi;
  SIZE side;
  SIZE flag_item;
  int large_icon;
};
inline constexpr scale_sizes kScaleSizes[] = {
    {120, {108, 213}, {22, 15}, 40}, {144, {130, 256}, {27, 18}, 48},
    {168, {152, 299}, {31, 21}, 56}, {192, {174, 342}, {36, 24}, 64},
    {96, {87, 171}, {18, 12}, 32},
};

// After move_to_scale: `window` took the `suggested` rectangle (growing downwards only, where its
// picture needs the room), its `picture` control shows the side picture drawn for `scale` at the
// control's own size and above `separator_top`, and its large icon is the scale's.
inline void expect_rescaled_window(HWND window, const RECT& suggested, HWND picture,
                                   const scale_sizes& scale, LONG separator_top) {
  const RECT now = window_rect(window);
  EXPECT_EQ(now.left, suggested.left);
  EXPECT_EQ(now.top, suggested.top);
  EXPECT_EQ(now.right, suggested.right);
  EXPECT_GE(now.bottom, suggested.bottom);
  const SIZE shown = shown_bitmap(picture);
  EXPECT_EQ(shown.cx, scale.side.cx);
  EXPECT_EQ(shown.cy, scale.side.cy);
  const RECT place = ui::window_ref(picture).rect_in_parent();
  EXPECT_EQ(size_of(place).cx, shown.cx) << "the control is as large as its picture";
  EXPECT_EQ(size_of(place).cy, shown.cy);
  EXPECT_LE(place.bottom, separator_top);
  EXPECT_EQ(large_icon_edge(window), scale.large_icon);
}

}  // namespace nv_testing
