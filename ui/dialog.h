// Dialogs built from dialog templates: modal ones with their own modal loop registered as the
// thread's active modal dialog, and child ones (pages) created modeless inside another window.
// Messages reach virtual handlers; values travel between controls and members through
// UpdateData/DoDataExchange with validation. A top-level dialog moved to a monitor of another
// scale takes the system's suggested rectangle and then hears of its new DPI. No exception
// crosses the dialog procedure: one that escapes a handler ends the innermost modal dialog and is
// rethrown from its DoModal.
#pragma once

#include <windows.h>

#include <cstddef>
#include <exception>
#include <optional>
#include <string>

#include "ui/message_filter.h"

namespace ui {

// A control (or any window) the dialog owns: the dialog destroys it, this only refers to it.
class window_ref {
 public:
  window_ref() noexcept = default;
  explicit window_ref(HWND hwnd) noexcept : hwnd_(hwnd) {}

  HWND hwnd() const noexcept { return hwnd_; }
  explicit operator bool() const noexcept { return hwnd_ != nullptr; }
  void attach(HWND hwnd) noexcept { hwnd_ = hwnd; }

  LRESULT send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) const noexcept {
    return ::SendMessageW(hwnd_, message, wparam, lparam);
  }
  std::wstring text() const;
  void set_text(const std::wstring& text) const noexcept { ::SetWindowTextW(hwnd_, text.c_str()); }
  void show(bool visible) const noexcept { ::ShowWindow(hwnd_, visible ? SW_SHOW : SW_HIDE); }
  bool visible() const noexcept { return ::IsWindowVisible(hwnd_) != FALSE; }
  void enable(bool enabled) const noexcept { ::EnableWindow(hwnd_, enabled ? TRUE : FALSE); }
  // The window's rectangle in its parent's client coordinates.
  RECT rect_in_parent() const noexcept;
  // Grows the window by (dx, dy) and moves it by (x, y), in its parent's client coordinates.
  void adjust(int move_x, int move_y, int grow_x, int grow_y) const noexcept;

 private:
  HWND hwnd_ = nullptr;
};

class dialog;

// One pass of data exchange between a dialog's controls and its members. Loading puts member
// values into controls; saving reads controls into members and validates. The first failed
// validation shows its message, focuses the control and makes every later exchange a no-op.
class data_exchange {
 public:
  data_exchange(dialog& owner, bool saving) noexcept : owner_(owner), saving_(saving) {}

  bool saving() const noexcept { return saving_; }
  bool failed() const noexcept { return failed_; }

  // Binds `control` to the dialog's child `id` (both directions).
  void control(int id, window_ref& control);
  // Text of control `id`. With `max_length` > 0 loading also limits the control to it, and
  // saving a longer text fails with "Enter no more than <max_length> characters.".
  void text(int id, std::wstring& value, std::size_t max_length = 0);
  // State of check box `id`: BST_UNCHECKED, BST_CHECKED or BST_INDETERMINATE.
  void check(int id, int& state);
  // Index of the checked button in the radio group that starts at `first_id` (up to the next
  // control with WS_GROUP); -1 when none is checked. Loading -1 unchecks the whole group.
  void radio(int first_id, int& index);

  // Marks the exchange failed after the caller showed its own message; focuses control `id`.
  void fail(int id);

 private:
  HWND item(int id) const;
  dialog& owner_;
  bool saving_;
  bool failed_ = false;
};

// The message shown when a text exceeds `max_length`.
std::wstring max_length_message(std::size_t max_length);

class dialog {
 public:
  // A dialog from template `template_id` in `module` (null: the executable).
  explicit dialog(UINT template_id, HINSTANCE module = nullptr) noexcept;
  virtual ~dialog();
  dialog(const dialog&) = delete;
  dialog& operator=(const dialog&) = delete;

  // Runs the dialog modally above `owner`; returns the EndDialog result, or -1 when the template
  // cannot be shown. An exception escaping a handler ends the dialog and is rethrown here.
  INT_PTR DoModal(HWND owner = nullptr);
  // Creates the dialog modeless as a child of `parent`; false when it cannot be created.
  bool Create(HWND parent);
  // Destroys a dialog created by Create (a modal one ends with EndDialog).
  void DestroyWindow() noexcept;
  // Ends the modal loop with `result`.
  void EndDialog(INT_PTR result) noexcept;

  // Moves values from the controls (save) or into them (load); false when validation failed.
  bool UpdateData(bool save);

  HWND hwnd() const noexcept { return hwnd_; }
  UINT template_id() const noexcept { return template_id_; }
  HWND item(int id) const noexcept { return ::GetDlgItem(hwnd_, id); }
  window_ref item_ref(int id) const noexcept { return window_ref(item(id)); }
  std::wstring item_text(int id) const;
  void set_item_text(int id, const std::wstring& text) const noexcept;

 protected:
  // Default: loads the controls (UpdateData(false)); TRUE lets the system set the focus.
  virtual BOOL OnInitDialog();
  virtual void DoDataExchange(data_exchange& dx);
  // WM_COMMAND; true when handled. Default: IDOK -> OnOK, IDCANCEL -> OnCancel.
  virtual bool OnCommand(int id, int code, HWND control);
  // Default: saves with validation, then ends with IDOK (modal dialogs only).
  virtual void OnOK();
  // Default: ends with IDCANCEL (modal dialogs only).
  virtual void OnCancel();
  // WM_NOTIFY; true when handled, with `result` as the message's result.
  virtual bool OnNotify(const NMHDR& header, LRESULT& result);
  // Every message first; true when handled, with `result` as the message's result.
  virtual bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result);
  // The window now shows at `dpi` (WM_DPICHANGED of a top-level dialog): called once the window
  // has its suggested rectangle and the system's own handling of the change, which rescales the
  // dialog's font and controls, has run. For what the system does not scale. Default: nothing.
  virtual void OnDpiChanged(UINT dpi);

  bool is_modal() const noexcept { return modal_; }
  // The window's default handling of a message, for a hook that acts after it.
  LRESULT default_message(UINT message, WPARAM wparam, LPARAM lparam) const noexcept {
    return ::DefWindowProcW(hwnd_, message, wparam, lparam);
  }

 private:
  static INT_PTR CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR dispatch(UINT message, WPARAM wparam, LPARAM lparam);

  UINT template_id_;
  HINSTANCE module_;
  HWND hwnd_ = nullptr;
  bool modal_ = false;
  std::optional<modal_scope> modal_scope_;
};

// The first exception that escaped a dialog handler on this thread and has not been rethrown yet
// (taking it clears it). DoModal rethrows it itself; a modeless dialog outside any modal loop
// leaves it here.
std::exception_ptr take_pending_exception() noexcept;

}  // namespace ui
