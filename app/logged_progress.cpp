#include "app/logged_progress.h"

#include <exception>
#include <system_error>

#include "app/do_install.h"
#include "app/install_app.h"
#include "app/install_outcome.h"
#include "app/install_summary.h"
#include "payload/error_code_text.h"
#include "localization/languages.h"

bool RunLoggedInstall(CInstallApp& app, InstalledPrograms& programs,
                      engine::InstallProgress* window) {
  for (const SummaryLine& line : installSummary(app)) app.logFile.append(line.text, line.banner);
  CLoggedProgress logged(app.logFile, window);
  bool installed = false;
  try {
    installed = DoInstall(logged, app, programs);
  } catch (const std::system_error& error) {
    // The journal was ended on the way out (undone, or kept once the uninstall log had taken it
    // over); the run is reported as failed either way.
    logged.setFailure(InstallFailedText(engine::error_code_text(error.code())));
    logged.logOutcome(false, {});
    throw;
  } catch (const std::exception&) {
    logged.setFailure(InstallFailedText(L"7"));
    logged.logOutcome(false, {});
    throw;
  }
  logged.logOutcome(installed, InstallCompleteText());
  return installed;
}
