// robot.exe: drives another program's windows from a second process in the same Windows session,
// for the installer's end-to-end tests. It runs a list of commands given on its command line,
// separated by "--", in order; the first failing command ends the run.
//
//   robot.exe window "Tessaline 7.08v" 10000 -- click 1 -- text 1016 -- screenshot start.bmp
//
// Window selection (the "current window" that later commands address):
//   window <title part> [ms]     wait for a visible top-level window, not a message box, whose
//                                title contains the part; make it current
//   box <text part> [ms]         wait for a visible message box (class #32770 with a static
//                                0xFFFF) whose text contains the part ("" = any); make it current
//   no-box [ms]                  fail when a message box shows up within ms
//   wait-gone [ms]               wait until the current window is closed or hidden
// Controls of the current window (id 0 = the window itself):
//   click <id>                   BM_CLICK, waits until the click has been handled
//   post-click <id>              BM_CLICK posted (for buttons that open modal boxes or run long)
//   text <id>                    print the text (WM_GETTEXT)
//   expect-text <id> <part>      fail unless the text contains the part
//   wait-text <id> <part> [ms]   wait until the text contains the part
//   expect-enabled <id> 0|1      fail unless IsWindowEnabled matches
//   wait-enabled <id> 0|1 [ms]   wait until IsWindowEnabled matches
//   expect-visible <id> 0|1      fail unless IsWindowVisible matches
//   expect-check <id> 0|1        fail unless BM_GETCHECK matches
//   expect-style <id> <mask> 0|1 fail unless the window style has all bits of the mask (1) or
//                                none of them (0)
//   close                        post WM_CLOSE to the current window
//   select <id> <index>          select a combo box item and notify its parent (CBN_SELCHANGE,
//                                posted, since the parent may open a modal box)
//   selection <id>               print the selected combo box index
//   set-text <id> <text>         WM_SETTEXT
//   screenshot <file.bmp>        save the window's screen area as a 24-bit BMP, once it has
//                                painted (repainted, and two captures a moment apart agree)
//   dump                         print every control: id, class, enabled, visible, text
//   fit-check                    measure, inside the window's own program (robot_probe.dll,
//                                beside robot.exe), every visible static text, push button,
//                                check box, radio button and group box of the window with its
//                                own font against the room its control gives it; print one
//                                "fit:" or "misfit:" line per control, "<id> <kind> needs WxH,
//                                has WxH: <text>" in pixels; fail when a text does not fit
//   picture-check                print, as the window's own program sees them (the probe again),
//                                one "picture:" line per picture of the window: "bitmap <id> at
//                                X,Y WxH shows WxH" (a static bitmap control: its place relative
//                                to the window's corner, and the bitmap's size), "icon ..." the
//                                same for a static icon, "window-icon shows WxH" (the large
//                                icon), "separator <id> at X,Y WxH" (an etched line), and
//                                "list-image <id> <index> shows WxH from <icon> WxH..." for each
//                                image of a ComboBoxEx's image list: the list's image size, the
//                                icon resource it was made from and every size of that icon that
//                                makes the same image ("from nothing" when no icon makes it)
//   sys-command <n>              post WM_SYSCOMMAND n to the current window (a system-menu entry)
//   show-page <id> 0|1           show or hide the child dialog (a wizard page) holding control id
//   sleep <ms>
// Programs that must show no window:
//   run-unseen <command line> [ms]
//                                start a program with exactly this command line (quotes and all,
//                                as one word), watch the top-level windows of its process every
//                                few milliseconds until it ends, print "exit-code: <n>" and one
//                                "seen: <class> \"<title>\"" line per window shown; fail when
//                                one was shown or the program did not end within ms
// Machine checks:
//   link-target <file.lnk>       print a shortcut's target, arguments and working folder
//   set-resource <exe> <type> <name> <file>
//                                replace (or add) a resource of the executable by the file's bytes
// Printed lines are "<verb>: <value>", the value with \\, \r, \n and \t escaped. Exit code 0
// when every command passed, 1 when one failed
// (its reason printed as "FAIL ..."), 2 for a command line that cannot be understood.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "tools/robot/machine_commands.h"
#include "tools/robot/probe_commands.h"
#include "tools/robot/robot_output.h"
#include "tools/robot/screen_capture.h"
#include "tools/robot/window_search.h"

namespace {

constexpr DWORD kDefaultTimeoutMs = 10000;

using robot_output::command_failed;
using robot_output::print;
using namespace robot_windows;
using namespace screen_capture;
using namespace machine_commands;

class bad_command_line {};

DWORD number(const std::wstring& text) {
  wchar_t* end = nullptr;
  const unsigned long value = std::wcstoul(text.c_str(), &end, 0);
  if (text.empty() || *end != L'\0') throw bad_command_line();
  return static_cast<DWORD>(value);
}

class robot {
 public:
  // Runs one command; throws command_failed or bad_command_line.
  void run(const std::vector<std::wstring>& words) {
    const std::wstring& verb = words.at(0);
    const auto arg = [&](size_t i) -> const std::wstring& {
      if (i >= words.size()) throw bad_command_line();
      return words[i];
    };
    const auto timeout = [&](size_t i) { return i < words.size() ? number(words[i]) : kDefaultTimeoutMs; };
    if (verb == L"window") {
      const auto found = poll(timeout(2), [&] { return find_window(arg(1)); });
      if (!found) throw command_failed(L"no window titled \"" + arg(1) + L"\"; shown: " + shown_windows());
      window_ = *found;
      print("window", window_text(window_));
    } else if (verb == L"box") {
      const auto found = poll(timeout(2), [&] { return find_box(arg(1)); });
      if (!found) throw command_failed(L"no message box with \"" + arg(1) + L"\"; shown: " + shown_windows());
      window_ = *found;
      print("box", window_text(::GetDlgItem(window_, kMessageBoxTextId)));
    } else if (verb == L"no-box") {
      if (const auto found = poll(timeout(1), [&] { return find_box(L""); }))
        throw command_failed(L"unexpected message box: " +
                             window_text(::GetDlgItem(*found, kMessageBoxTextId)));
    } else if (verb == L"wait-gone") {
      const bool gone = poll(timeout(1), [&] { return !::IsWindow(window_) || !::IsWindowVisible(window_); });
      if (!gone) throw command_failed(L"the window is still shown");
    } else if (verb == L"click") {
      DWORD_PTR ignored = 0;
      if (!::SendMessageTimeoutW(control(arg(1)), BM_CLICK, 0, 0, SMTO_NORMAL, 120000, &ignored))
        throw command_failed(L"the click was not handled in time");
    } else if (verb == L"post-click") {
      if (!::PostMessageW(control(arg(1)), BM_CLICK, 0, 0)) throw command_failed(L"PostMessage failed");
    } else if (verb == L"text") {
      print("text", window_text(control(arg(1))));
    } else if (verb == L"expect-text" || verb == L"wait-text") {
      HWND target = control(arg(1));
      const DWORD wait = verb == L"wait-text" ? timeout(3) : 0;
      if (!poll(wait, [&] { return window_text(target).find(arg(2)) != std::wstring::npos; }))
        throw command_failed(L"text of " + arg(1) + L" is \"" + window_text(target) +
                             L"\", not containing \"" + arg(2) + L"\"");
    } else if (verb == L"expect-enabled" || verb == L"wait-enabled") {
      HWND target = control(arg(1));
      const bool wanted = number(arg(2)) != 0;
      const DWORD wait = verb == L"wait-enabled" ? timeout(3) : 0;
      if (!poll(wait, [&] { return (::IsWindowEnabled(target) != FALSE) == wanted; }))
        throw command_failed(L"control " + arg(1) + (wanted ? L" is disabled" : L" is enabled"));
    } else if (verb == L"expect-visible") {
      if ((::IsWindowVisible(control(arg(1))) != FALSE) != (number(arg(2)) != 0))
        throw command_failed(L"visibility of control " + arg(1) + L" differs");
    } else if (verb == L"expect-check") {
      const LRESULT state = ::SendMessageW(control(arg(1)), BM_GETCHECK, 0, 0);
      if (static_cast<DWORD>(state) != number(arg(2)))
        throw command_failed(L"check state of " + arg(1) + L" is " + std::to_wstring(state));
    } else if (verb == L"expect-style") {
      const DWORD style = static_cast<DWORD>(::GetWindowLongW(control(arg(1)), GWL_STYLE));
      const DWORD mask = number(arg(2));
      const bool wanted = number(arg(3)) != 0;
      if (wanted ? (style & mask) != mask : (style & mask) != 0)
        throw command_failed(L"style of control " + arg(1) + L" is " + std::to_wstring(style));
    } else if (verb == L"close") {
      if (!::IsWindow(window_) || !::PostMessageW(window_, WM_CLOSE, 0, 0))
        throw command_failed(L"no current window to close");
    } else if (verb == L"select") {
      HWND combo = control(arg(1));
      const DWORD index = number(arg(2));
      if (static_cast<DWORD>(::SendMessageW(combo, CB_SETCURSEL, index, 0)) != index)
        throw command_failed(L"no item " + arg(2));
      const int id = ::GetDlgCtrlID(combo);
      ::PostMessageW(::GetParent(combo), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
    } else if (verb == L"selection") {
      print("selection", std::to_wstring(static_cast<int>(::SendMessageW(control(arg(1)), CB_GETCURSEL, 0, 0))));
    } else if (verb == L"set-text") {
      ::SendMessageW(control(arg(1)), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(arg(2).c_str()));
    } else if (verb == L"screenshot") {
      if (!::IsWindow(window_)) throw command_failed(L"no current window");
      save_bmp(painted_window(window_), arg(1));
      print("screenshot", arg(1));
    } else if (verb == L"dump") {
      dump();
    } else if (verb == L"fit-check") {
      if (!::IsWindow(window_)) throw command_failed(L"no current window");
      probe_commands::fit_check(window_);
    } else if (verb == L"picture-check") {
      if (!::IsWindow(window_)) throw command_failed(L"no current window");
      probe_commands::picture_check(window_);
    } else if (verb == L"sys-command") {
      if (!::IsWindow(window_) || !::PostMessageW(window_, WM_SYSCOMMAND, number(arg(1)), 0))
        throw command_failed(L"no current window for the command");
    } else if (verb == L"show-page") {
      HWND page = ::GetParent(control(arg(1)));
      if (!page || page == window_) throw command_failed(L"control " + arg(1) + L" is on no page");
      ::ShowWindow(page, number(arg(2)) != 0 ? SW_SHOWNA : SW_HIDE);
    } else if (verb == L"sleep") {
      std::this_thread::sleep_for(std::chrono::milliseconds(number(arg(1))));
    } else if (verb == L"run-unseen") {
      run_unseen(arg(1), timeout(2));
    } else if (verb == L"link-target") {
      print_link_target(arg(1));
    } else if (verb == L"set-resource") {
      set_resource(arg(1), arg(2), arg(3), arg(4));
    } else {
      throw bad_command_line();
    }
  }

 private:
  // The control `id` of the current window (0: the window itself); searched among all
  // descendants, so that controls of the wizard's child pages are found as well.
  HWND control(const std::wstring& id_text) {
    if (!::IsWindow(window_)) throw command_failed(L"no current window");
    const DWORD id = number(id_text);
    if (id == 0) return window_;
    // Several controls may share the id (the pages reuse ids): a shown control first, then a
    // hidden one on a shown page, then any.
    HWND shown = nullptr, on_shown_page = nullptr, any = nullptr;
    for (HWND child : child_windows(window_)) {
      if (::GetDlgCtrlID(child) != static_cast<int>(id)) continue;
      if (!shown && ::IsWindowVisible(child)) shown = child;
      if (!on_shown_page && ::IsWindowVisible(::GetParent(child))) on_shown_page = child;
      if (!any) any = child;
    }
    HWND found = shown ? shown : on_shown_page ? on_shown_page : any;
    if (!found) throw command_failed(L"no control " + id_text);
    return found;
  }
  void dump() {
    if (!::IsWindow(window_)) throw command_failed(L"no current window");
    for (HWND child : child_windows(window_)) {
      print("control", std::to_wstring(::GetDlgCtrlID(child)) + L" " + class_name(child) +
                           L" enabled=" + std::to_wstring(::IsWindowEnabled(child) != FALSE) +
                           L" visible=" + std::to_wstring(::IsWindowVisible(child) != FALSE) +
                           L" \"" + window_text(child) + L"\"");
    }
  }

  HWND window_ = nullptr;
};

// Window rectangles and screen pixels as the screen has them, whatever the display's scale: the
// robot is DPI aware itself, per monitor where Windows knows that (version 2), else system-wide.
void become_dpi_aware() {
  using set_context = BOOL(WINAPI*)(HANDLE);
  HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  const auto set = user32 ? reinterpret_cast<set_context>(reinterpret_cast<void*>(
                                ::GetProcAddress(user32, "SetProcessDpiAwarenessContext")))
                          : nullptr;
  const auto per_monitor_v2 = reinterpret_cast<HANDLE>(-4);  // DPI_AWARENESS_CONTEXT_...
  if (!set || !set(per_monitor_v2)) ::SetProcessDPIAware();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  become_dpi_aware();
  std::vector<std::vector<std::wstring>> commands(1);
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--") == 0)
      commands.emplace_back();
    else
      commands.back().emplace_back(argv[i]);
  }
  robot r;
  for (const auto& words : commands) {
    if (words.empty()) continue;
    try {
      r.run(words);
    } catch (const command_failed& failure) {
      print("FAIL " + nv::to_utf8(words[0]), failure.reason());
      return 1;
    } catch (const bad_command_line&) {
      print("FAIL " + nv::to_utf8(words[0]), L"cannot understand the command (see robot.cpp's header)");
      return 2;
    } catch (const std::exception& e) {
      print("FAIL " + nv::to_utf8(words[0]), std::wstring(L"error: ") + std::wstring(e.what(), e.what() + std::strlen(e.what())));
      return 1;
    }
  }
  return 0;
}
