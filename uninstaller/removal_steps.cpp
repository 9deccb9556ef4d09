#include "uninstaller/removal_steps.h"

#include <shlwapi.h>

#include "machine/handle_removal.h"
#include "steps/product_registration.h"
#include "nv/fixed_path.h"
#include "nv/registry.h"
#include "nv/system_failure.h"
#include "nv/unique_handle.h"

namespace uninstaller {

namespace {

StepResult failure(DWORD code) {
  return {Outcome::failed, nv::system_failure(code)};
}

// The errors of a file that another program holds open or runs.
bool inUse(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED || error == ERROR_USER_MAPPED_FILE;
}

// Schedules `path` for removal at the next restart.
StepResult scheduleAtRestart(const std::wstring& path) {
  if (::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
    return {Outcome::scheduled, {}};
  return failure(::GetLastError());
}

bool isMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// True when every entry of `folder` is in `scheduled`; false for an unreadable folder.
bool holdsOnlyScheduled(const std::wstring& folder, const std::vector<std::wstring>& scheduled) {
  WIN32_FIND_DATAW entry{};
  const std::wstring pattern = nv::fixed_path::append(folder, L"*");
  const nv::unique_find search(::FindFirstFileW(pattern.c_str(), &entry));
  if (!search) return false;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = nv::fixed_path::append(folder, name);
    bool found = false;
    for (const auto& item : scheduled) found = found || _wcsicmp(item.c_str(), path.c_str()) == 0;
    if (!found) return false;
  } while (::FindNextFileW(search.get(), &entry));
  return true;
}

// The step's outcome for a removal through a handle.
StepResult stepOf(const engine::RemovalResult& removal) {
  switch (removal.outcome) {
    case engine::RemovalOutcome::removed: return {Outcome::removed, {}};
    case engine::RemovalOutcome::absent: return {Outcome::absent, {}};
    case engine::RemovalOutcome::notEmpty: return {Outcome::notEmpty, {}};
    case engine::RemovalOutcome::elsewhere: return {Outcome::linkOnTheWay, {}};
    default: return {Outcome::failed, removal.error};
  }
}

}  // namespace

bool IsInUseError(const std::error_code& error) {
  return error.category() == std::system_category() && inUse(static_cast<DWORD>(error.value()));
}

StepResult RemoveFileOrLink(const std::wstring& path, const std::wstring& place,
                            WhenInUse whenInUse) {
  const StepResult step =
      stepOf(engine::RemoveThroughHandle(path, engine::EntryKind::fileOrLink, place));
  if (step.outcome == Outcome::failed && IsInUseError(step.error) &&
      whenInUse == WhenInUse::schedule)
    return scheduleAtRestart(path);
  return step;
}

StepResult RemoveEmptyFolder(const std::wstring& path, const std::wstring& place,
                             const std::vector<std::wstring>& scheduled) {
  const StepResult step =
      stepOf(engine::RemoveThroughHandle(path, engine::EntryKind::emptyFolder, place));
  // A link is removed as the link: only a real folder can still hold something.
  if (step.outcome == Outcome::notEmpty && !scheduled.empty() &&
      holdsOnlyScheduled(path, scheduled))
    return scheduleAtRestart(path);
  return step;
}

StepResult RemoveUninstallKey() {
  const DWORD error = ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, engine::ProductUninstallKeyPath().c_str());
  if (error == ERROR_SUCCESS) return {Outcome::removed, {}};
  if (isMissing(error)) return {Outcome::absent, {}};
  return failure(error);
}

StepResult RemoveProductPath() {
  HKEY raw = nullptr;
  DWORD error = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, engine::makerKey, 0, KEY_ALL_ACCESS, &raw);
  if (isMissing(error)) return {Outcome::absent, {}};
  if (error != ERROR_SUCCESS) return failure(error);
  nv::reg_key key(raw);
  error = ::RegDeleteValueW(key.get(), engine::ProductPathValueName().c_str());
  if (error != ERROR_SUCCESS && !isMissing(error)) return failure(error);
  const Outcome outcome = error == ERROR_SUCCESS ? Outcome::removed : Outcome::absent;
  if (nv::reg_key_is_empty(key.get())) {
    key.reset();
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, engine::makerKey);
  }
  return {outcome, {}};
}

std::wstring UnregistrationCommandLine(const std::wstring& mainProgram) {
  std::wstring commandLine = mainProgram;
  if (commandLine.find(L' ') != std::wstring::npos) commandLine = L'"' + commandLine + L'"';
  return commandLine + L" /Unregister /Background";
}

std::optional<DWORD> RunUnregistration(const std::wstring& mainProgram,
                                       nv::named_mutex& installerMutex, std::error_code& error) {
  error.clear();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNOACTIVATE;
  std::wstring commandLine = UnregistrationCommandLine(mainProgram);
  const std::wstring folder = nv::fixed_path::remove_file_spec(mainProgram);

  const bool held = installerMutex.owned();
  if (held) installerMutex.unlock();
  PROCESS_INFORMATION process{};
  const BOOL started =
      ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       folder.empty() ? nullptr : folder.c_str(), &startup, &process);
  if (!started) {
    error = nv::last_system_failure();
    if (held) installerMutex.try_lock();
    return std::nullopt;
  }
  const nv::unique_handle processHandle(process.hProcess);
  const nv::unique_handle threadHandle(process.hThread);
  ::WaitForSingleObject(processHandle.get(), INFINITE);
  DWORD exitCode = 0;
  const bool exited = ::GetExitCodeProcess(processHandle.get(), &exitCode) != FALSE;
  if (held) installerMutex.try_lock();
  if (!exited) {
    error = nv::last_system_failure();
    return std::nullopt;
  }
  return exitCode;
}

}  // namespace uninstaller
