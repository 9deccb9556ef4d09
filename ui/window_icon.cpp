#include "ui/window_icon.h"

#include "ui/dpi.h"

namespace ui {
namespace {

// A large icon's edge at 100 %.
constexpr int kLargeIcon = 32;

}  // namespace

bool window_icon::apply(HWND window, UINT dpi) noexcept {
  const int edge = scale_pixels(kLargeIcon, dpi);
  unique_icon icon(static_cast<HICON>(
      ::LoadImageW(module_, MAKEINTRESOURCEW(id_), IMAGE_ICON, edge, edge, LR_DEFAULTCOLOR)));
  if (!icon) return false;
  // What the window gives back is this owner's previous icon or one it does not own.
  ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon.get()));
  icon_ = std::move(icon);
  edge_ = edge;
  return true;
}

}  // namespace ui
