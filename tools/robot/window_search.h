// How robot.exe finds and reads the windows it drives: top-level windows and message boxes by
// their text, a window's descendants, texts read with a time limit (a hung window fails the
// command), and waiting for a condition.
#pragma once

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace robot_windows {

// The control of a message box that holds its text.
inline constexpr int kMessageBoxTextId = 0xFFFF;

// The window's text (WM_GETTEXT, at most 5 s per message); command_failed when it does not answer.
std::wstring window_text(HWND window);
std::wstring class_name(HWND window);
// A dialog-class window with a message box's text control.
bool is_message_box(HWND window);
std::vector<HWND> top_level_windows();
// Every descendant of `parent`, in the order EnumChildWindows reports them.
std::vector<HWND> child_windows(HWND parent);
// A visible top-level window, not a message box, whose title contains `title_part`.
std::optional<HWND> find_window(const std::wstring& title_part);
// A visible message box whose text contains `text_part` ("" = any).
std::optional<HWND> find_box(const std::wstring& text_part);
// The visible top-level windows, for a failure that found none of the right one: each as
// <class> "<title>" (a message box with its text), "none" when nothing is shown.
std::wstring shown_windows();

// Calls `probe` every 20 ms until it gives a value or `timeout_ms` has passed.
template <class Probe>
auto poll(DWORD timeout_ms, Probe probe) -> decltype(probe()) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (auto found = probe()) return found;
    if (std::chrono::steady_clock::now() >= deadline) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace robot_windows
