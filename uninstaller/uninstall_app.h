// The uninstaller's application object: the single-instance mutex it shares with the installer
// (an installer and an uninstaller never run at the same time), the /LOG file, and the start-up
// that decides whether and how the product is removed. The one instance is a global of the
// uninstaller's main translation unit.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "run/log_file.h"
#include "nv/instance_tracking.h"
#include "ui/application.h"

namespace uninstaller {

// What start-up asks the system; tests replace them to take the refusal paths.
struct UninstallChecks {
  std::function<bool()> isAdministrator;            // nv::is_administrator
  std::function<std::uint32_t()> runningInstances;  // nv::running_instances
  std::function<std::wstring()> commandLine;        // GetCommandLineW
};

// Replaces the checks (empty members restore the real ones); returns the previous ones.
UninstallChecks setUninstallChecks(UninstallChecks checks);

class CUninstallApp : public ui::application {
 public:
  // Creates the installer's single-instance mutex unowned, sets the current product and
  // registers icon 128 of the executable as the application icon.
  CUninstallApp();
  // Releases the mutex if it is held.
  ~CUninstallApp() override;

  // Start-up, then the wizard or, with /S, the removal without a window; the finisher with
  // /FINISH=. Returns FALSE: the program ends with the exit code it set.
  BOOL InitInstance() override;

  nv::named_mutex installerMutex;
  CLogFile logFile;
};

}  // namespace uninstaller
