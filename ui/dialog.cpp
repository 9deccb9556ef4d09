#include "ui/dialog.h"

#include <utility>

#include "nv/fatal_error.h"

namespace ui {
namespace {

thread_local std::exception_ptr pending_exception;

// Keeps the first escaped exception and ends the innermost modal dialog so that its DoModal can
// rethrow it; later ones while the first is pending are dropped.
void park_exception(std::exception_ptr error) noexcept {
  if (!pending_exception) pending_exception = std::move(error);
  if (HWND modal = active_modal_dialog()) ::EndDialog(modal, IDABORT);
}

// Messages whose result is the dialog procedure's return value, not DWLP_MSGRESULT.
bool returns_directly(UINT message) noexcept {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
      return true;
    default:
      return false;
  }
}

std::wstring window_text(HWND hwnd) {
  const int length = ::GetWindowTextLengthW(hwnd);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

// Posted by a dialog to itself on WM_DPICHANGED, so that OnDpiChanged runs after the system's
// handling of the change (wParam: the new DPI).
UINT dpi_settled_message() noexcept {
  static const UINT message = ::RegisterWindowMessageW(L"nv.ui.dpi-settled");
  return message;
}

bool is_radio_button(HWND hwnd) noexcept {
  const LONG type = ::GetWindowLongW(hwnd, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

}  // namespace

// ---- window_ref -------------------------------------------------------------------------------

std::wstring window_ref::text() const { return window_text(hwnd_); }

RECT window_ref::rect_in_parent() const noexcept {
  RECT rect{};
  ::GetWindowRect(hwnd_, &rect);
  ::MapWindowPoints(HWND_DESKTOP, ::GetParent(hwnd_), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void window_ref::adjust(int move_x, int move_y, int grow_x, int grow_y) const noexcept {
  if (!hwnd_) return;
  const RECT rect = rect_in_parent();
  ::SetWindowPos(hwnd_, nullptr, rect.left + move_x, rect.top + move_y,
                 rect.right - rect.left + grow_x, rect.bottom - rect.top + grow_y,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- data_exchange ----------------------------------------------------------------------------

std::wstring max_length_message(std::size_t max_length) {
  std::wstring text = L"Enter no more than %1 characters.";
  text.replace(text.find(L"%1"), 2, std::to_wstring(max_length));
  return text;
}

HWND data_exchange::item(int id) const { return owner_.item(id); }

void data_exchange::control(int id, window_ref& control) {
  if (failed_) return;
  control.attach(item(id));
}

void data_exchange::text(int id, std::wstring& value, std::size_t max_length) {
  if (failed_) return;
  HWND control = item(id);
  if (!saving_) {
    if (max_length > 0) ::SendMessageW(control, EM_LIMITTEXT, max_length, 0);
    ::SetWindowTextW(control, value.c_str());
    return;
  }
  std::wstring text = window_text(control);
  if (max_length > 0 && text.size() > max_length) {
    nv::message_box(max_length_message(max_length), MB_OK | MB_ICONEXCLAMATION);
    fail(id);
    return;
  }
  value = std::move(text);
}

void data_exchange::check(int id, int& state) {
  if (failed_) return;
  HWND control = item(id);
  if (saving_) {
    state = static_cast<int>(::SendMessageW(control, BM_GETCHECK, 0, 0));
  } else {
    ::SendMessageW(control, BM_SETCHECK, static_cast<WPARAM>(state), 0);
  }
}

void data_exchange::radio(int first_id, int& index) {
  if (failed_) return;
  HWND button = item(first_id);
  int position = 0;
  if (saving_) index = -1;
  while (button) {
    if (is_radio_button(button)) {
      if (saving_) {
        if (index == -1 && ::SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED)
          index = position;
      } else {
        ::SendMessageW(button, BM_SETCHECK, position == index ? BST_CHECKED : BST_UNCHECKED, 0);
      }
      ++position;
    }
    button = ::GetWindow(button, GW_HWNDNEXT);
    if (button && (::GetWindowLongW(button, GWL_STYLE) & WS_GROUP)) break;
  }
}

void data_exchange::fail(int id) {
  failed_ = true;
  HWND control = item(id);
  if (!control) return;
  ::SetFocus(control);
  wchar_t class_name[16] = {};
  ::GetClassNameW(control, class_name, 16);
  if (::lstrcmpiW(class_name, L"Edit") == 0) ::SendMessageW(control, EM_SETSEL, 0, -1);
}

// ---- dialog -----------------------------------------------------------------------------------

dialog::dialog(UINT template_id, HINSTANCE module) noexcept
    : template_id_(template_id), module_(module ? module : ::GetModuleHandleW(nullptr)) {}

dialog::~dialog() { DestroyWindow(); }

INT_PTR dialog::DoModal(HWND owner) {
  modal_ = true;
  const INT_PTR result = ::DialogBoxParamW(module_, MAKEINTRESOURCEW(template_id_), owner,
                                           &dialog::procedure, reinterpret_cast<LPARAM>(this));
  modal_scope_.reset();
  modal_ = false;
  hwnd_ = nullptr;
  if (std::exception_ptr error = take_pending_exception()) std::rethrow_exception(error);
  return result;
}

bool dialog::Create(HWND parent) {
  if (hwnd_) return false;
  modal_ = false;
  HWND created = ::CreateDialogParamW(module_, MAKEINTRESOURCEW(template_id_), parent,
                                      &dialog::procedure, reinterpret_cast<LPARAM>(this));
  return created != nullptr && hwnd_ == created;
}

void dialog::DestroyWindow() noexcept {
  if (hwnd_ && !modal_) ::DestroyWindow(hwnd_);
}

void dialog::EndDialog(INT_PTR result) noexcept {
  if (hwnd_ && modal_) ::EndDialog(hwnd_, result);
}

bool dialog::UpdateData(bool save) {
  data_exchange dx(*this, save);
  DoDataExchange(dx);
  return !dx.failed();
}

std::wstring dialog::item_text(int id) const { return window_text(item(id)); }

void dialog::set_item_text(int id, const std::wstring& text) const noexcept {
  ::SetDlgItemTextW(hwnd_, id, text.c_str());
}

BOOL dialog::OnInitDialog() {
  UpdateData(false);
  return TRUE;
}

void dialog::DoDataExchange(data_exchange&) {}

bool dialog::OnCommand(int id, int code, HWND) {
  if (code != BN_CLICKED) return false;  // also a menu command or the Enter and Escape keys
  if (id == IDOK) {
    OnOK();
    return true;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return true;
  }
  return false;
}

void dialog::OnOK() {
  if (UpdateData(true)) EndDialog(IDOK);
}

void dialog::OnCancel() { EndDialog(IDCANCEL); }

bool dialog::OnNotify(const NMHDR&, LRESULT&) { return false; }

bool dialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

void dialog::OnDpiChanged(UINT) {}

INT_PTR dialog::dispatch(UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT result = 0;
  if (OnMessage(message, wparam, lparam, result)) {
    if (returns_directly(message)) return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
    return TRUE;
  }
  if (message == dpi_settled_message() && message != 0) {
    OnDpiChanged(static_cast<UINT>(wparam));
    return TRUE;
  }
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_DPICHANGED:
      if (::GetWindowLongW(hwnd_, GWL_STYLE) & WS_CHILD) return FALSE;
      // The window takes the rectangle the system suggests for the new scale (the system's
      // handling does so too where it rescales dialogs; earlier versions leave it to the window).
      if (const auto* suggested = reinterpret_cast<const RECT*>(lparam)) {
        ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                       suggested->right - suggested->left, suggested->bottom - suggested->top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
      }
      ::PostMessageW(hwnd_, dpi_settled_message(), LOWORD(wparam), 0);
      return FALSE;
    case WM_COMMAND:
      return OnCommand(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam)) ? TRUE
                                                                                       : FALSE;
    case WM_NOTIFY:
      if (OnNotify(*reinterpret_cast<const NMHDR*>(lparam), result)) {
        ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK dialog::procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  dialog* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<dialog*>(lparam);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    // The modal loop runs from here on; messages pumped inside it are pre-translated for it.
    if (self->modal_) self->modal_scope_.emplace(hwnd);
  } else {
    self = reinterpret_cast<dialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  if (!self) return FALSE;

  INT_PTR handled = FALSE;
  try {
    handled = self->dispatch(message, wparam, lparam);
  } catch (...) {
    park_exception(std::current_exception());
    handled = TRUE;
  }
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
  }
  return handled;
}

std::exception_ptr take_pending_exception() noexcept { return std::exchange(pending_exception, nullptr); }

}  // namespace ui
