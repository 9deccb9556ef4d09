#include "tools/robot/probe_commands.h"

#include <memory>
#include <string>

#include "nv/unique_handle.h"
#include "nv/unique_module.h"
#include "tools/robot/fit_probe.h"
#include "tools/robot/picture_probe.h"
#include "tools/robot/robot_output.h"

namespace probe_commands {
namespace {

using robot_output::command_failed;
using robot_output::print;

struct hook_traits {
  using type = HHOOK;
  static HHOOK normalize(HHOOK hook) noexcept { return hook; }
  static void close(HHOOK hook) noexcept { ::UnhookWindowsHookEx(hook); }
};
using unique_hook = nv::unique_resource<hook_traits>;

// The probe library's full path: beside robot.exe.
std::wstring probe_library() {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), MAX_PATH);
  path.resize(length);
  return path.substr(0, path.find_last_of(L"\\/") + 1) + fit_probe::kLibraryName;
}

// Sends `window` the probe's registered message `message` with the robot's process id and
// returns the Report the probe wrote into the shared memory named `mapping_name`.
template <class Report>
std::unique_ptr<Report> ask(HWND window, const wchar_t* message, const std::wstring& mapping_name,
                            LONG asked, LONG written) {
  nv::unique_module library(
      ::LoadLibraryExW(probe_library().c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  const auto hook_procedure =
      library ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(
                    ::GetProcAddress(library.get(), fit_probe::kHookName)))
              : nullptr;
  if (!hook_procedure) throw command_failed(L"cannot load " + probe_library());
  nv::unique_handle mapping(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                 sizeof(Report), mapping_name.c_str()));
  fit_probe::unique_view view(
      mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Report))
              : nullptr);
  if (!view) throw command_failed(L"no shared memory for the probe");
  auto* report = static_cast<Report*>(view.get());
  report->state = asked;

  const DWORD thread = ::GetWindowThreadProcessId(window, nullptr);
  unique_hook hook(::SetWindowsHookExW(WH_CALLWNDPROC, hook_procedure, library.get(), thread));
  if (!hook) throw command_failed(L"SetWindowsHookExW failed with " + std::to_wstring(::GetLastError()));
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutW(window, ::RegisterWindowMessageW(message), ::GetCurrentProcessId(), 0,
                        SMTO_BLOCK, 10000, &ignored);
  if (::InterlockedCompareExchange(&report->state, 0, 0) != written)
    throw command_failed(L"the probe did not answer");
  return std::make_unique<Report>(*report);
}

std::wstring size_text(SIZE size) { return std::to_wstring(size.cx) + L"x" + std::to_wstring(size.cy); }

}  // namespace

// Has the probe measure `window` inside its own program and prints the measurements; fails
// when a text does not fit.
void fit_check(HWND window) {
  const std::unique_ptr<fit_probe::report> report = ask<fit_probe::report>(
      window, fit_probe::kMessageName, fit_probe::mapping_name(::GetCurrentProcessId()),
      fit_probe::kAsked, fit_probe::kWritten);
  int misfits = 0;
  for (int i = 0; i < report->count; ++i) {
    const fit_probe::measurement& m = report->items[i];
    const bool fits = fit_probe::fits(m);
    misfits += fits ? 0 : 1;
    print(fits ? "fit" : "misfit",
          std::to_wstring(m.id) + L" " + fit_probe::kind_name(m.kind) + L" needs " +
              std::to_wstring(m.needed.cx) + L"x" + std::to_wstring(m.needed.cy) + L", has " +
              std::to_wstring(m.available.cx) + L"x" + std::to_wstring(m.available.cy) + L": " +
              m.text);
  }
  if (report->seen > report->count)
    throw command_failed(std::to_wstring(report->seen) + L" text controls, more than the probe holds");
  if (misfits > 0)
    throw command_failed(std::to_wstring(misfits) + L" of " + std::to_wstring(report->count) +
                         L" texts do not fit");
}

// Has the probe look at the pictures of `window` inside its own program and prints one line for
// each (see picture_probe.h).
void picture_check(HWND window) {
  const std::unique_ptr<picture_probe::report> report = ask<picture_probe::report>(
      window, picture_probe::kMessageName, picture_probe::mapping_name(::GetCurrentProcessId()),
      picture_probe::kAsked, picture_probe::kWritten);
  using picture_probe::picture_kind;
  for (int i = 0; i < report->count; ++i) {
    const picture_probe::picture& p = report->items[i];
    const RECT& r = p.place;
    const std::wstring id = std::to_wstring(p.id);
    const std::wstring place = L" at " + std::to_wstring(r.left) + L"," + std::to_wstring(r.top) +
                               L" " + size_text({r.right - r.left, r.bottom - r.top});
    switch (p.kind) {
      case picture_kind::bitmap:
        print("picture", L"bitmap " + id + place + L" shows " + size_text(p.size));
        break;
      case picture_kind::icon:
        print("picture", L"icon " + id + place + L" shows " + size_text(p.size));
        break;
      case picture_kind::window_icon:
        print("picture", L"window-icon shows " + size_text(p.size));
        break;
      case picture_kind::separator:
        print("picture", L"separator " + id + place);
        break;
      case picture_kind::list_image: {
        std::wstring sources = p.source_id ? std::to_wstring(p.source_id) : L"nothing";
        for (int s = 0; s < p.source_count; ++s) sources += L" " + size_text(p.sources[s]);
        print("picture", L"list-image " + id + L" " + std::to_wstring(p.index) + L" shows " +
                             size_text(p.size) + L" from " + sources);
        break;
      }
      default:
        break;
    }
  }
  if (report->seen > report->count)
    throw command_failed(std::to_wstring(report->seen) + L" pictures, more than the probe holds");
}

}  // namespace probe_commands
