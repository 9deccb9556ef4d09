#include "tools/robot/window_search.h"

#include "tools/robot/robot_output.h"

namespace robot_windows {
namespace {

using robot_output::command_failed;

BOOL CALLBACK collect_window(HWND window, LPARAM context) {
  reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
  return TRUE;
}

}  // namespace

std::wstring window_text(HWND window) {
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
    throw command_failed(L"the window does not answer WM_GETTEXTLENGTH");
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 5000, &copied))
    throw command_failed(L"the window does not answer WM_GETTEXT");
  text.resize(copied);
  return text;
}

std::wstring class_name(HWND window) {
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, 256);
  return name;
}

bool is_message_box(HWND window) {
  return class_name(window) == L"#32770" && ::GetDlgItem(window, kMessageBoxTextId) != nullptr;
}

std::vector<HWND> top_level_windows() {
  std::vector<HWND> windows;
  ::EnumWindows(collect_window, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::vector<HWND> child_windows(HWND parent) {
  std::vector<HWND> windows;
  ::EnumChildWindows(parent, collect_window, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::optional<HWND> find_window(const std::wstring& title_part) {
  for (HWND window : top_level_windows()) {
    if (!::IsWindowVisible(window) || is_message_box(window)) continue;
    if (window_text(window).find(title_part) != std::wstring::npos) return window;
  }
  return std::nullopt;
}

std::optional<HWND> find_box(const std::wstring& text_part) {
  for (HWND window : top_level_windows()) {
    if (!::IsWindowVisible(window) || !is_message_box(window)) continue;
    if (window_text(::GetDlgItem(window, kMessageBoxTextId)).find(text_part) != std::wstring::npos)
      return window;
  }
  return std::nullopt;
}

std::wstring shown_windows() {
  std::wstring list;
  for (HWND window : top_level_windows()) {
    if (!::IsWindowVisible(window)) continue;
    std::wstring text;
    try {
      text = window_text(is_message_box(window) ? ::GetDlgItem(window, kMessageBoxTextId) : window);
    } catch (const command_failed&) {
      text = L"(no answer)";
    }
    list += (list.empty() ? L"" : L", ") + class_name(window) + L" \"" + text.substr(0, 60) + L"\"";
  }
  return list.empty() ? L"none" : list;
}

}  // namespace robot_windows
