#include "app/unattended_install.h"

#include <exception>
#include <system_error>

#include "app/do_install.h"
#include "app/install_app.h"
#include "localization/languages.h"
#include "app/logged_progress.h"
#include "app/progress_pages.h"
#include "engine/error_code_text.h"

int RunUnattendedInstall(CInstallApp& app) {
  for (const SummaryLine& line : installSummary(app)) app.logFile.append(line.text, line.banner);
  CLoggedProgress progress(app.logFile);
  InstalledPrograms programs;
  bool installed = false;
  try {
    installed = DoInstall(progress, app, programs);
  } catch (const std::system_error& error) {
    // The journal was ended on the way out (undone, or kept once the uninstall log had taken it
    // over); the run is reported as failed either way.
    progress.setStatus(formatLocalized(1121, {engine::error_code_text(error.code())}));
  } catch (const std::exception&) {
    progress.setStatus(formatLocalized(1121, {L"7"}));
  }
  progress.logOutcome(installed);
  return installed ? UnattendedExit::Installed : UnattendedExit::Failed;
}
