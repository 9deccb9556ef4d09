#include "ui/scaled_icon.h"

#include "ui/dpi.h"

namespace ui {
namespace {

// A large icon's edge at 100 %.
constexpr int kLargeIcon = 32;

}  // namespace

HICON scaled_icon::load(UINT dpi) noexcept {
  const int edge = scale_pixels(kLargeIcon, dpi);
  unique_icon icon(static_cast<HICON>(
      ::LoadImageW(module_, MAKEINTRESOURCEW(id_), IMAGE_ICON, edge, edge, LR_DEFAULTCOLOR)));
  if (!icon) return nullptr;
  // The one shown so far stays until the window has let go of it.
  previous_ = std::move(icon_);
  icon_ = std::move(icon);
  edge_ = edge;
  return icon_.get();
}

bool scaled_icon::show_as_window_icon(HWND window, UINT dpi) noexcept {
  HICON icon = load(dpi);
  if (!icon) return false;
  // What the window gives back is the icon shown before: this owner's, or one it does not own.
  ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  previous_.reset();
  return true;
}

bool scaled_icon::show_in(HWND control, UINT dpi) noexcept {
  HICON icon = control ? load(dpi) : nullptr;
  if (!icon) return false;
  // The control gives back the icon shown before: this owner's, or the one it loaded from its
  // template, which the system shares and keeps.
  ::SendMessageW(control, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
  previous_.reset();
  return true;
}

}  // namespace ui
