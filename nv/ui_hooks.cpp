#include "nv/ui_hooks.h"

#include "nv/unique_handle.h"

namespace nv {
namespace {

constexpr WORD kApplicationIcon = 128;

struct icon_traits {
  using type = HICON;
  static HICON normalize(HICON icon) noexcept { return icon; }
  static void close(HICON icon) noexcept { ::DestroyIcon(icon); }
};
using unique_icon = unique_resource<icon_traits>;

}  // namespace

ui_hooks& ui_providers() {
  static ui_hooks hooks;
  return hooks;
}

HICON application_icon() {
  const ui_hooks& hooks = ui_providers();
  return hooks.application_icon ? hooks.application_icon() : nullptr;
}

owner_windows safe_owner(HWND main_window) {
  if (!main_window || !::IsWindow(main_window)) return {};
  HWND top = ::GetAncestor(main_window, GA_ROOT);
  if (!top) top = main_window;
  HWND owner = ::GetLastActivePopup(top);
  if (!owner) owner = top;
  if (owner == top || !::IsWindowEnabled(top)) return {owner, nullptr};
  ::EnableWindow(top, FALSE);
  return {owner, top};
}

HICON executable_icon() {
  static const unique_icon icon(static_cast<HICON>(
      ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kApplicationIcon), IMAGE_ICON, 0,
                   0, LR_DEFAULTCOLOR)));
  return icon.get();
}

}  // namespace nv
