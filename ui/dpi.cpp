#include "ui/dpi.h"

#include "ui/gdi.h"

namespace ui {
namespace {

using window_dpi_function = UINT(WINAPI*)(HWND);

// GetDpiForWindow, which Windows 10 version 1607 brought; user32 is loaded in every program that
// shows a window, so it is only looked up, never loaded.
window_dpi_function dpi_for_window() noexcept {
  static const window_dpi_function function = [] {
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<window_dpi_function>(
                        reinterpret_cast<void*>(::GetProcAddress(user32, "GetDpiForWindow")))
                  : nullptr;
  }();
  return function;
}

UINT screen_dpi() noexcept {
  window_dc screen(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen.get(), LOGPIXELSX) : 0;
  return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

}  // namespace

UINT window_dpi(HWND window) noexcept {
  if (window_dpi_function function = dpi_for_window(); function && window) {
    if (const UINT dpi = function(window); dpi != 0) return dpi;
  }
  return screen_dpi();
}

int scale_pixels(int pixels, UINT dpi) noexcept {
  return ::MulDiv(pixels, static_cast<int>(dpi), static_cast<int>(kBaseDpi));
}

std::size_t picture_scale_index(UINT dpi) noexcept {
  std::size_t index = 0;
  for (std::size_t i = 1; i < kPictureScales.size(); ++i) {
    // Scale i fits when dpi / 96 >= percent / 100.
    if (dpi * 100 >= kBaseDpi * static_cast<UINT>(kPictureScales[i])) index = i;
  }
  return index;
}

}  // namespace ui
