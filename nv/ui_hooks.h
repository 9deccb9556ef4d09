// The replaceable providers through which the support library reaches the application's dialog
// layer: application icon, application name (message box caption), safe owner window, modal
// state and the reading order of the default language. Each is empty until someone sets it; the
// start-up binding (nv::details::initialize_mfc_lib) gives them their start-up values, and the
// dialog layer and the application object replace them with their own later.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>

namespace nv {

// The owner of a modal box and the top-level window to re-enable after it (null when none).
using owner_windows = std::pair<HWND, HWND>;

struct ui_hooks {
  // The application's icon (the wizard frame's icon).
  std::function<HICON()> application_icon;
  // The application name: the caption of message boxes.
  std::function<std::wstring()> application_name;
  // The safe owner of a modal box and the top-level window disabled while it is shown.
  std::function<owner_windows()> owner_window;
  // Enable-modeless notification to the main window: false before a box, true after it.
  std::function<void(bool enable)> modal_state;
  // Whether the default language reads right to left (asked only when a box has no owner).
  std::function<bool()> default_language_rtl;
};

// The process-wide providers.
ui_hooks& ui_providers();

// The icon from the application-icon provider; null without one.
HICON application_icon();

// The safe owner for a modal box shown above `main_window`: the last active popup of its
// top-level window, and that top-level window when it differs from the owner and was enabled
// (it is disabled here, and message_box re-enables it afterwards). Both null without a window.
owner_windows safe_owner(HWND main_window);

// Icon resource 128 of the executable, loaded at its default size once per process (null when
// the executable has none).
HICON executable_icon();

}  // namespace nv
