// One uninstallation carried out from its plan: every step's caption and outcome in the progress
// log, the summary the end page shows (what was removed, what was kept and why, what was
// refused), and what is left for after the uninstaller has ended: its own executable and the
// folders that hold it, which a running program cannot remove.
#pragma once

#include <string>
#include <vector>

#include "steps/install_progress.h"
#include "nv/instance_tracking.h"
#include "uninstaller/removal_plan.h"

namespace uninstaller {

// Exit codes, as deployment systems know them from Windows Installer.
namespace UninstallExit {
inline constexpr int Removed = 0;
inline constexpr int ProcessorUnsupported = 1;  // as the static start-up check ends
inline constexpr int BadCommandLine = 87;       // ERROR_INVALID_PARAMETER
inline constexpr int NotAdministrator = 740;    // ERROR_ELEVATION_REQUIRED
inline constexpr int Cancelled = 1602;          // ERROR_INSTALL_USEREXIT
inline constexpr int Failed = 1603;             // ERROR_INSTALL_FAILURE
inline constexpr int Busy = 1618;               // ERROR_INSTALL_ALREADY_RUNNING
inline constexpr int RestartNeeded = 3010;      // ERROR_SUCCESS_REBOOT_REQUIRED
}  // namespace UninstallExit

struct RunContext {
  std::wstring ownExecutable;  // full path of the running uninstaller
  std::wstring logPath;        // the uninstall log, removed once everything else is
  nv::named_mutex* installerMutex = nullptr;  // freed while the product unregisters
};

struct RunResult {
  std::vector<std::wstring> summary;   // one line per removed, kept or refused item
  bool restartNeeded = false;          // something is removed only at the next restart
  bool incomplete = false;             // something was refused or could not be removed
  std::wstring firstFailure;           // the first path that could not be removed
  std::wstring firstLeft;              // the first path that stays, refused or failed
  std::vector<std::wstring> deferred;  // own executable, then the folders that hold it
};

// Carries out `steps` in order, telling `progress` as it goes. The uninstall key, the log and the
// uninstaller itself go only when nothing else stays.
RunResult RunRemoval(const std::vector<PlannedStep>& steps, const RunContext& context,
                     engine::InstallProgress& progress);

// The exit code of a run: removed, restart needed, or failed.
int ExitCodeOf(const RunResult& result);

// The line that ends the run: complete, complete after a restart, or not complete (naming the
// first failure, else the first refusal).
std::wstring OutcomeText(const RunResult& result);

}  // namespace uninstaller
