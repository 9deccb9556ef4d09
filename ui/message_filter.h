// The thread's message pre-translation: a message loop that runs while one of our modal dialogs
// is active (the dialog's own loop, or a pump inside a long operation) offers each message here
// first, so that keyboard navigation keeps working in the dialog.
#pragma once

#include <windows.h>

namespace ui {

// True when the active modal dialog of this thread consumed `msg` (do not dispatch it then).
bool pre_translate_message(MSG& msg);

// Makes `dialog` the thread's active modal dialog while it lives; restores the previous one.
class modal_scope {
 public:
  explicit modal_scope(HWND dialog) noexcept;
  ~modal_scope();
  modal_scope(const modal_scope&) = delete;
  modal_scope& operator=(const modal_scope&) = delete;

 private:
  HWND previous_;
};

// The thread's active modal dialog, or null.
HWND active_modal_dialog() noexcept;

}  // namespace ui
