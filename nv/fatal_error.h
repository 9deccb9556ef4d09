// Fatal-error reporting: the system's text for an error code, and the message box it is shown in,
// with the owner, modal state, reading order and caption taken from replaceable providers.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>

#include "nv/ui_hooks.h"

namespace nv {

// The system's text for a Windows error code or HRESULT, without trailing line breaks. Never
// empty: a code without text gives the text of E_FAIL, and E_FAIL without text gives "Error".
std::wstring error_text(DWORD code);

// While one lives, error_text on its thread gives the system's English text where the system
// has one, for the log lines that are English whatever language the program speaks.
class english_error_texts {
 public:
  english_error_texts() noexcept;
  ~english_error_texts();
  english_error_texts(const english_error_texts&) = delete;
  english_error_texts& operator=(const english_error_texts&) = delete;

 private:
  bool was_;
};

// The system's text for a Windows error code in `language` when the system has it there, else in
// the language the system chooses; without trailing line breaks, empty when it has none.
std::wstring system_message(DWORD code, LANGID language);

// Where the message box gets its surroundings from: the process-wide providers of
// nv/ui_hooks.h. Each member may be empty; the library then behaves as it does at start-up (no
// owner, no modal-state notification, no right-to-left default language, caption = the
// executable's file name without extension).
using message_box_providers = ui_hooks;
message_box_providers& box_providers();

// What finally reaches MessageBoxW. Tests replace the display to observe it.
struct message_box_request {
  HWND owner;
  std::wstring text;
  std::wstring caption;
  UINT type;
};
using message_box_display = std::function<int(const message_box_request&)>;

// Replaces the display (empty restores MessageBoxW); returns the previous one.
message_box_display set_message_box_display(message_box_display display);

// Shows `text` in a message box of `type`; returns the button pressed.
int message_box(const std::wstring& text, UINT type);

// Shows error_text(code) with an exclamation icon and an OK button.
void show_error_message(DWORD code);

// The executable's file name without extension.
std::wstring executable_stem();

}  // namespace nv
