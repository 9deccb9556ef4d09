#include "app/unattended_install.h"

#include <exception>

#include "app/do_install.h"
#include "app/logged_progress.h"

int RunUnattendedInstall(CInstallApp& app) {
  InstalledPrograms programs;
  bool installed = false;
  try {
    installed = RunLoggedInstall(app, programs, nullptr);
  } catch (const std::exception&) {
    // Logged as a failure on its way out; nothing is left to undo.
  }
  return installed ? UnattendedExit::Installed : UnattendedExit::Failed;
}
