// What robot.exe and its probe library share for the fit check: the message that asks the probe
// to measure a window, the shared memory the probe writes its measurements into, and the rules
// by which a control's text is judged to fit. The probe runs inside the measured program, where
// each control's font is at hand (WM_GETFONT answers nothing across processes).
#pragma once

#include <windows.h>

#include <string>

#include "nv/unique_handle.h"

namespace fit_probe {

// The registered message the robot sends the measured window; wParam is the robot's process id.
inline constexpr wchar_t kMessageName[] = L"nv.robot.fit-check";
// The probe library, beside robot.exe, and its hook procedure (WH_CALLWNDPROC).
inline constexpr wchar_t kLibraryName[] = L"robot_probe.dll";
inline constexpr char kHookName[] = "fit_probe_hook";

inline constexpr int kMaxText = 1024;
inline constexpr int kMaxControls = 128;

enum class text_kind : int { none = 0, static_text, push_button, check_box, group_box };

// One control's text against the room its control gives it, in pixels.
struct measurement {
  int id;
  text_kind kind;
  SIZE needed;
  SIZE available;
  wchar_t text[kMaxText];  // cut at kMaxText - 1 characters
};

// What the probe writes: `state` becomes kWritten once `items` hold `count` measurements (of
// `seen` text controls; fewer when the table is full).
struct report {
  LONG state;
  int count;
  int seen;
  measurement items[kMaxControls];
};

// A view of the shared report, unmapped when its owner goes.
struct view_traits {
  using type = void*;
  static void* normalize(void* view) noexcept { return view; }
  static void close(void* view) noexcept { ::UnmapViewOfFile(view); }
};
using unique_view = nv::unique_resource<view_traits>;
inline constexpr LONG kAsked = 0;
inline constexpr LONG kWritten = 1;

// The shared memory of the robot process `robot_process`.
inline std::wstring mapping_name(DWORD robot_process) {
  return L"Local\\nv-robot-fit-" + std::to_wstring(robot_process);
}

inline bool fits(const measurement& m) {
  return m.needed.cx <= m.available.cx && m.needed.cy <= m.available.cy;
}

inline const wchar_t* kind_name(text_kind kind) {
  switch (kind) {
    case text_kind::static_text: return L"static";
    case text_kind::push_button: return L"button";
    case text_kind::check_box: return L"check";
    case text_kind::group_box: return L"group";
    default: return L"?";
  }
}

}  // namespace fit_probe
