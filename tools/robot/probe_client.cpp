#include "tools/robot/probe_client.h"

#include "nv/unique_handle.h"
#include "nv/unique_module.h"

namespace probe_client {
namespace {

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
  if (!hook_procedure) throw failure{L"cannot load " + probe_library()};
  nv::unique_handle mapping(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                 sizeof(Report), mapping_name.c_str()));
  fit_probe::unique_view view(
      mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Report))
              : nullptr);
  if (!view) throw failure{L"no shared memory for the probe"};
  auto* report = static_cast<Report*>(view.get());
  report->state = asked;

  const DWORD thread = ::GetWindowThreadProcessId(window, nullptr);
  unique_hook hook(::SetWindowsHookExW(WH_CALLWNDPROC, hook_procedure, library.get(), thread));
  if (!hook) throw failure{L"SetWindowsHookExW failed with " + std::to_wstring(::GetLastError())};
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutW(window, ::RegisterWindowMessageW(message), ::GetCurrentProcessId(), 0,
                        SMTO_BLOCK, 10000, &ignored);
  if (::InterlockedCompareExchange(&report->state, 0, 0) != written)
    throw failure{L"the probe did not answer"};
  return std::make_unique<Report>(*report);
}

}  // namespace

std::unique_ptr<fit_probe::report> measure_texts(HWND window) {
  return ask<fit_probe::report>(window, fit_probe::kMessageName,
                                fit_probe::mapping_name(::GetCurrentProcessId()),
                                fit_probe::kAsked, fit_probe::kWritten);
}

std::unique_ptr<picture_probe::report> measure_pictures(HWND window) {
  return ask<picture_probe::report>(window, picture_probe::kMessageName,
                                    picture_probe::mapping_name(::GetCurrentProcessId()),
                                    picture_probe::kAsked, picture_probe::kWritten);
}

}  // namespace probe_client
