#include "ui/scaled_picture.h"

#include "ui/dpi.h"

namespace ui {
namespace {

struct control_search {
  DWORD type;
  HWND found;
};

BOOL CALLBACK find_picture_control(HWND child, LPARAM context) {
  auto* search = reinterpret_cast<control_search*>(context);
  wchar_t name[16] = {};
  ::GetClassNameW(child, name, 16);
  const auto style = static_cast<DWORD>(::GetWindowLongW(child, GWL_STYLE));
  if (::lstrcmpiW(name, L"Static") != 0 || (style & SS_TYPEMASK) != search->type) return TRUE;
  search->found = child;
  return FALSE;
}

}  // namespace

HWND picture_control(HWND dialog, DWORD type) noexcept {
  control_search search{type, nullptr};
  ::EnumChildWindows(dialog, find_picture_control, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool scaled_picture::show(HWND control, UINT dpi) noexcept {
  if (!control) return false;
  const std::size_t index = picture_scale_index(dpi);
  // Loaded as the dialog manager loads a template's picture, so that the 100 % one shows alike.
  unique_gdi_object bitmap(::LoadImageW(module_, MAKEINTRESOURCEW(first_id_ + index),
                                        IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
  if (!bitmap) return false;
  const auto previous = reinterpret_cast<HGDIOBJ>(::SendMessageW(
      control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap.get())));
  // The bitmap the control gives back is the replacer's: the one it loaded from its template, or
  // the one shown before, which goes with the assignment below.
  unique_gdi_object given_back(previous != shown_.get() ? previous : nullptr);
  shown_ = std::move(bitmap);
  scale_index_ = index;
  return true;
}

}  // namespace ui
