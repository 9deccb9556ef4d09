// The scale a window is drawn at: the DPI of the monitor it is shown on (96 at 100 %), pixel
// figures scaled by it, and the display scales that the programs' pictures are drawn for. The
// dialog manager scales dialog units through the dialog font; what is given in pixels (pictures,
// icons, image lists, pixel margins) is scaled here.
#pragma once

#include <windows.h>

#include <array>

namespace ui {

// The DPI of a window at 100 %.
inline constexpr UINT kBaseDpi = 96;

// The display scales, in per cent, that every picture is drawn for.
inline constexpr std::array<int, 5> kPictureScales = {100, 125, 150, 175, 200};

// The DPI `window` is shown at: the window's own where Windows keeps one per window (Windows 10
// version 1607 and later), else the screen's.
UINT window_dpi(HWND window) noexcept;

// `pixels` at 100 % in pixels at `dpi`, rounded to the nearest.
int scale_pixels(int pixels, UINT dpi) noexcept;

// The index in kPictureScales of the pictures to show at `dpi`: the largest scale not above the
// DPI's own, so that a picture never outgrows the room its window gives it (100 % below 96 DPI,
// 200 % above 192).
std::size_t picture_scale_index(UINT dpi) noexcept;

// A picture's `pixels` at 100 % at `percent`, rounded down, as the pictures are drawn.
constexpr int picture_pixels(int pixels, int percent) noexcept { return pixels * percent / 100; }

}  // namespace ui
