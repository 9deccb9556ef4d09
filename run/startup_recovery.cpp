#include "run/startup_recovery.h"

#include <windows.h>
#include <restartmanager.h>

#include <utility>
#include <vector>

#include "nv/unique_module.h"
#include "localization/languages.h"
#include "nv/fatal_error.h"

namespace engine {
namespace {

constexpr UINT kUndone = 1145;
constexpr UINT kHeld = 1146;
constexpr UINT kAnotherProgram = 1147;
constexpr UINT kOutsidePlaces = 1148;

using StartSession = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RegisterResources = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT,
                                         LPCWSTR*);
using GetList = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, LPDWORD);
using EndSession = DWORD(WINAPI*)(DWORD);

// Notes every record a recovery refused.
void NoteRefusals(CStartupReport& report, const RecoveryResult& result) {
  for (const RecoveredRun& run : result.runs)
    for (const std::wstring& path : run.refused) report.note(formatLocalized(kOutsidePlaces, {path}));
}

}  // namespace

RecoveryResult RecoverIfAdministrator(bool administrator) {
  if (!administrator) return {};
  return RecoverInterruptedRuns();
}

std::optional<int> ReportRecovery(CStartupReport& report, RecoveryResult result,
                                  int busyExitCode) {
  NoteRefusals(report, result);
  while (result.unfinished()) {
    const std::wstring held = result.heldFile();
    const std::wstring holders = ProgramsHolding(held);
    const LocalText text = [&] {
      return formatLocalized(kHeld,
                             {held, holders.empty() ? localizedString(kAnotherProgram) : holders});
    };
    if (report.unattended()) return report.refuse(text, busyExitCode);
    if (nv::message_box(text(), MB_RETRYCANCEL | MB_ICONEXCLAMATION) != IDRETRY) {
      report.noteOutcome(text);
      return 0;
    }
    result = RecoverInterruptedRuns();
    NoteRefusals(report, result);
  }
  if (result.undidInstallation()) report.tell(localizedString(kUndone), MB_OK | MB_ICONINFORMATION);
  return std::nullopt;
}

std::wstring ProgramsHolding(const std::wstring& path) {
  // The restart manager lives in the system folder; never looked for anywhere else.
  const nv::unique_module library(
      ::LoadLibraryExW(L"rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!library) return {};
  const auto start = reinterpret_cast<StartSession>(::GetProcAddress(library.get(), "RmStartSession"));
  const auto add =
      reinterpret_cast<RegisterResources>(::GetProcAddress(library.get(), "RmRegisterResources"));
  const auto list = reinterpret_cast<GetList>(::GetProcAddress(library.get(), "RmGetList"));
  const auto end = reinterpret_cast<EndSession>(::GetProcAddress(library.get(), "RmEndSession"));
  if (!start || !add || !list || !end) return {};
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  if (start(&session, 0, key) != ERROR_SUCCESS) return {};
  std::wstring names;
  LPCWSTR files[] = {path.c_str()};
  UINT needed = 0;
  UINT count = 0;
  DWORD reasons = 0;
  if (add(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS &&
      list(session, &needed, &count, nullptr, &reasons) == ERROR_MORE_DATA && needed > 0) {
    std::vector<RM_PROCESS_INFO> processes(needed);
    count = needed;
    if (list(session, &needed, &count, processes.data(), &reasons) == ERROR_SUCCESS) {
      for (UINT i = 0; i < count && i < processes.size(); ++i) {
        if (processes[i].strAppName[0] == L'\0') continue;
        if (!names.empty()) names += L", ";
        names += processes[i].strAppName;
      }
    }
  }
  end(session);
  return names;
}

}  // namespace engine
