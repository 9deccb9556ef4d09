// robot_probe.dll: the robot's fit check, carried out inside the program whose window is
// measured. The robot hooks the window's thread with fit_probe_hook, which makes the system load
// this library into that program, and sends the window the fit-check message; the hook then
// measures every visible static text, push button, check box, radio button and group box of the
// window with the control's own font and writes the results into the robot's shared memory. The
// same hook answers the picture check (picture_probe.cpp).
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "nv/unique_handle.h"
#include "tools/robot/fit_probe.h"
#include "tools/robot/picture_probe.h"
#include "ui/gdi.h"

namespace {

using fit_probe::text_kind;

// Room a control keeps for itself around its text, in pixels at 96 dpi.
// A push button: its 2-pixel three-dimensional edge and the default button's 1-pixel frame.
constexpr int kButtonInset = 3;
// A check box or radio button: the gap between the glyph and the text (the themed layout's).
constexpr int kGlyphGap = 6;
// A group box: the caption starts this far in from the frame's left edge, and leaves as much
// before its right edge.
constexpr int kGroupIndent = 10;

UINT fit_message() {
  static const UINT message = ::RegisterWindowMessageW(fit_probe::kMessageName);
  return message;
}

UINT picture_message() {
  static const UINT message = ::RegisterWindowMessageW(picture_probe::kMessageName);
  return message;
}

std::wstring class_of(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

std::wstring text_of(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// How a control shows its text, or none when it shows no label (edit boxes, lists, pictures,
// lines, owner-drawn buttons).
text_kind kind_of(HWND control) {
  const auto style = static_cast<DWORD>(::GetWindowLongW(control, GWL_STYLE));
  const std::wstring name = class_of(control);
  if (_wcsicmp(name.c_str(), L"Static") == 0) {
    switch (style & SS_TYPEMASK) {
      case SS_LEFT:
      case SS_CENTER:
      case SS_RIGHT:
      case SS_SIMPLE:
      case SS_LEFTNOWORDWRAP:
        return text_kind::static_text;
      default:
        return text_kind::none;
    }
  }
  if (_wcsicmp(name.c_str(), L"Button") == 0) {
    if (style & (BS_BITMAP | BS_ICON)) return text_kind::none;
    switch (style & BS_TYPEMASK) {
      case BS_PUSHBUTTON:
      case BS_DEFPUSHBUTTON:
        return text_kind::push_button;
      case BS_CHECKBOX:
      case BS_AUTOCHECKBOX:
      case BS_3STATE:
      case BS_AUTO3STATE:
      case BS_RADIOBUTTON:
      case BS_AUTORADIOBUTTON:
        return (style & BS_PUSHLIKE) ? text_kind::push_button : text_kind::check_box;
      case BS_GROUPBOX:
        return text_kind::group_box;
      default:
        return text_kind::none;
    }
  }
  return text_kind::none;
}

// The DrawTextW flags the control lays its text out with.
UINT layout_flags(text_kind kind, DWORD style) {
  if (kind == text_kind::static_text) {
    UINT flags = DT_EXPANDTABS;
    if (style & SS_NOPREFIX) flags |= DT_NOPREFIX;
    const DWORD type = style & SS_TYPEMASK;
    if (type == SS_SIMPLE) flags |= DT_SINGLELINE;
    else if (type != SS_LEFTNOWORDWRAP) flags |= DT_WORDBREAK;
    return flags;
  }
  if (kind == text_kind::group_box) return DT_SINGLELINE;
  return (style & BS_MULTILINE) ? DT_WORDBREAK : DT_SINGLELINE;
}

// The rectangle, in the control's client coordinates, where its text may go: the client area
// less the control's own edge, glyph or indent, clipped by the client area of every window it
// lies in (a control that reaches beyond its page or dialog is cut there).
RECT text_area(HWND control, text_kind kind, HDC dc) {
  RECT area{};
  ::GetClientRect(control, &area);
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSX);
  const auto scaled = [dpi](int pixels) { return ::MulDiv(pixels, dpi, 96); };
  switch (kind) {
    case text_kind::push_button:
      ::InflateRect(&area, -scaled(kButtonInset), -scaled(kButtonInset));
      break;
    case text_kind::check_box:
      area.left += ::GetSystemMetrics(SM_CXMENUCHECK) + scaled(kGlyphGap);
      break;
    case text_kind::group_box:
      ::InflateRect(&area, -scaled(kGroupIndent), 0);
      break;
    default:
      break;
  }
  ::MapWindowPoints(control, nullptr, reinterpret_cast<POINT*>(&area), 2);
  HWND inner = control;
  for (HWND outer = ::GetParent(inner); outer && (::GetWindowLongW(inner, GWL_STYLE) & WS_CHILD);
       inner = outer, outer = ::GetParent(outer)) {
    RECT room{};
    ::GetClientRect(outer, &room);
    ::MapWindowPoints(outer, nullptr, reinterpret_cast<POINT*>(&room), 2);
    if (!::IntersectRect(&area, &area, &room)) return RECT{};
  }
  ::MapWindowPoints(nullptr, control, reinterpret_cast<POINT*>(&area), 2);
  return area;
}

// Measures one control; false when it shows no text.
bool measure(HWND control, fit_probe::measurement& result) {
  const text_kind kind = kind_of(control);
  if (kind == text_kind::none) return false;
  const std::wstring text = text_of(control);
  if (text.empty()) return false;

  ui::window_dc dc(control);
  if (!dc) return false;
  auto font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
  // A control without a font of its own draws with the system font.
  ui::selected_object selected(dc.get(), font ? static_cast<HGDIOBJ>(font)
                                              : ::GetStockObject(SYSTEM_FONT));
  const RECT area = text_area(control, kind, dc.get());
  const auto style = static_cast<DWORD>(::GetWindowLongW(control, GWL_STYLE));
  const UINT flags = layout_flags(kind, style);
  // Word-wrapped text is laid out in the width it has; a word longer than that widens the result.
  RECT needed{0, 0, std::max<LONG>(area.right - area.left, 1), 0};
  ::DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &needed, flags | DT_CALCRECT);

  result.id = ::GetDlgCtrlID(control);
  result.kind = kind;
  result.needed = {needed.right - needed.left, needed.bottom - needed.top};
  result.available = {std::max<LONG>(area.right - area.left, 0),
                      std::max<LONG>(area.bottom - area.top, 0)};
  const std::size_t length = std::min<std::size_t>(text.size(), fit_probe::kMaxText - 1);
  std::copy_n(text.c_str(), length, result.text);
  result.text[length] = L'\0';
  return true;
}

BOOL CALLBACK collect(HWND window, LPARAM context) {
  reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
  return TRUE;
}

// Measures the visible text controls of `window` into the shared memory of `robot_process`.
void report_window(HWND window, DWORD robot_process) {
  nv::unique_handle mapping(
      ::OpenFileMappingW(FILE_MAP_WRITE, FALSE, fit_probe::mapping_name(robot_process).c_str()));
  if (!mapping) return;
  fit_probe::unique_view view(::MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, sizeof(fit_probe::report)));
  if (!view) return;
  auto* out = static_cast<fit_probe::report*>(view.get());

  std::vector<HWND> controls;
  ::EnumChildWindows(window, collect, reinterpret_cast<LPARAM>(&controls));
  out->count = 0;
  out->seen = 0;
  fit_probe::measurement measured{};
  for (HWND control : controls) {
    if (!::IsWindowVisible(control) || !measure(control, measured)) continue;
    ++out->seen;
    if (out->count < fit_probe::kMaxControls) out->items[out->count++] = measured;
  }
  ::InterlockedExchange(&out->state, fit_probe::kWritten);
}

}  // namespace

// The hook the robot installs on the measured window's thread: on the fit-check or the picture
// message it measures that window (wParam of the message: the robot's process id); everything
// else passes.
extern "C" __declspec(dllexport) LRESULT CALLBACK fit_probe_hook(int code, WPARAM wparam,
                                                                  LPARAM lparam) {
  if (code == HC_ACTION) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lparam);
    try {
      if (call->message == fit_message())
        report_window(call->hwnd, static_cast<DWORD>(call->wParam));
      else if (call->message == picture_message())
        picture_probe::report_window(call->hwnd, static_cast<DWORD>(call->wParam));
    } catch (...) {
      // Nothing may leave a hook; the robot reports the missing answer.
    }
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}
