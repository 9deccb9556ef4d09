// A program that goes through the whole start-up as the installer does, for the start-up tests.
// Usage: nv_startup_probe <report file> <ready event> <quit event>
// After start-up it writes what it observed to the report file (one "key=value" line each),
// signals ready, waits for quit and exits normally (0).
//
// Built with NV_PROBE_OLD_COMMON_CONTROLS, a seam set before the library's start-up object makes
// the common controls report version 5.82 from the system folder: start-up then shows
// "Initialization Error" and exits with -11 before main. Built with NV_PROBE_NO_SSE2, the
// processor check finds no SSE2: the three-language box, then exit code 1.
#include <windows.h>
#include <comdef.h>

#include <cstdio>
#include <locale>
#include <memory>
#include <string>
#include <system_error>

#include "nv/instance_tracking.h"
#include "nv/processor_check.h"
#include "nv/startup.h"
#include "nv/ui_hooks.h"
#include "nv/unique_handle.h"
#include "nv/version_info.h"

namespace {

#ifdef NV_PROBE_OLD_COMMON_CONTROLS
struct old_common_controls {
  old_common_controls() {
    nv::details::startup_ops ops;
    ops.common_controls = [] {
      wchar_t system[MAX_PATH] = {};
      ::GetSystemDirectoryW(system, MAX_PATH);
      return nv::details::common_controls_info{0x50052, std::wstring(system) + L"\\comctl32.dll"};
    };
    nv::details::set_startup_ops(ops);
  }
};
// Before the library's start-up object (110).
__attribute__((init_priority(105))) old_common_controls seam;
#endif

#ifdef NV_PROBE_NO_SSE2
struct no_sse2 {
  no_sse2() {
    nv::processor_check_ops ops;
    ops.has_sse2 = [] { return false; };  // the box and the exit stay the system's
    nv::set_processor_check_ops(ops);
  }
};
__attribute__((init_priority(105))) no_sse2 seam;
#endif

// Constructed right after the DLL search was restricted, before every other start-up step: whether
// a DLL beside the executable is still found by name, and by its full path.
struct planted_dll_probe {
  bool by_name = false;
  bool by_path = false;
  planted_dll_probe() {
    if (HMODULE m = ::LoadLibraryW(L"nv_planted_probe.dll")) {
      by_name = true;
      ::FreeLibrary(m);
    }
    wchar_t path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring beside(path, n);
    beside = beside.substr(0, beside.find_last_of(L'\\') + 1) + L"nv_planted_probe.dll";
    if (HMODULE m = ::LoadLibraryExW(beside.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {
      by_path = true;
      ::FreeLibrary(m);
    }
  }
};
__attribute__((init_priority(102))) planted_dll_probe planted_dll;

// Stands in for the application object: a global of default priority in the main translation
// unit. It records what start-up had done by the time it was constructed.
struct probe_application {
  bool started_before = nv::startup_completed();
  std::wstring id_at_construction = nv::application_id();
  probe_application() { nv::run_startup(); }
};
probe_application the_application;

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string com_error_handling() {
  try {
    _com_issue_error(E_NOINTERFACE);
  } catch (const std::system_error& e) {
    return e.code().category() == std::system_category() ? std::to_string(e.code().value())
                                                         : "other category";
  } catch (...) {
    return "other exception";
  }
  return "no exception";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  std::FILE* raw = _wfopen(argv[1], L"w");
  if (!raw) return 3;
  {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> report(raw, &std::fclose);
    const nv::ui_hooks& hooks = nv::ui_providers();
    std::fprintf(report.get(), "started_before_application=%d\n", the_application.started_before);
    std::fprintf(report.get(), "application_id_at_construction=%s\n",
                 narrow(the_application.id_at_construction).c_str());
    std::fprintf(report.get(), "application_id=%s\n", narrow(nv::application_id()).c_str());
    std::fprintf(report.get(), "processor_supported=%d\n", nv::processor_supported);
    std::fprintf(report.get(), "error_mode=%u\n", ::GetErrorMode());
    std::fprintf(report.get(), "locale=%s\n", std::locale().name().c_str());
    std::fprintf(report.get(), "running_instances=%u\n", nv::running_instances());
    std::fprintf(report.get(), "caption=%s\n",
                 hooks.application_name ? narrow(hooks.application_name()).c_str() : "");
    std::fprintf(report.get(), "owner_provider=%d\n", static_cast<bool>(hooks.owner_window));
    std::fprintf(report.get(), "com_error=%s\n", com_error_handling().c_str());
    std::fprintf(report.get(), "planted_dll_by_name=%d\n", planted_dll.by_name);
    std::fprintf(report.get(), "planted_dll_by_path=%d\n", planted_dll.by_path);
  }
  nv::unique_handle ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]));
  nv::unique_handle quit(::OpenEventW(SYNCHRONIZE, FALSE, argv[3]));
  if (ready) ::SetEvent(ready.get());
  if (quit) ::WaitForSingleObject(quit.get(), 60000);
  return 0;
}
