// The installer's start-up: the checks that may refuse to run, the language, the existing
// installation and the default folders, then the wizard.
#include <system_error>

#include "app/install_app.h"
#include "app/install_startup.h"
#include "app/languages.h"
#include "nv/fatal_error.h"
#include "nv/instance_tracking.h"
#include "nv/privileges.h"
#include "nv/processor_check.h"
#include "nv/product.h"
#include "nv/ui_hooks.h"
#include "nv/version_info.h"
#include "uninstall_log/find_log.h"

namespace {

bool userIsAdministrator() {
  const auto& check = startupChecks().isAdministrator;
  return check ? check() : nv::is_administrator();
}

std::uint32_t runningInstances() {
  const auto& count = startupChecks().runningInstances;
  return count ? count() : nv::running_instances();
}

INT_PTR runWizard() {
  const auto& run = startupChecks().runWizard;
  return run ? run() : runInstallWizard();
}

}  // namespace

BOOL CInstallApp::InitInstance() {
  // The support library learns the current language from here on: version texts follow it, and
  // boxes without an owner read right to left when the default language does.
  nv::set_current_lcid_source([]() -> LCID { return currentLanguage().lcid; });
  nv::ui_providers().default_language_rtl = [] { return isRightToLeftLanguage(defaultLanguage()); };

  if (!nv::processor_supported) {
    nv::show_error_message(static_cast<DWORD>(E_UNEXPECTED));
    return FALSE;
  }
  if (!installerMutex.try_lock()) {
    nv::show_error_message(ERROR_BUSY);
    return FALSE;
  }

  setCurrentLanguage(
      chooseStartLanguage(defaultLanguage(productLanguageMask), readStoredLanguage()));
  currentLanguage().selectedLanguage = currentLanguage().language;
  set_name(applicationTitle(true));

  if (!userIsAdministrator()) {
    nv::message_box(localizedString(1126), MB_OK | MB_ICONEXCLAMATION);
    return FALSE;
  }
  while (runningInstances() > 1) {
    const std::wstring text = formatLocalized(1127, {nv::product_label(true)});
    if (nv::message_box(text, MB_RETRYCANCEL | MB_ICONEXCLAMATION) != IDRETRY) return FALSE;
  }

  // A registry failure other than a missing value leaves the installer unable to tell what is
  // installed; it says why and ends rather than treat the machine as empty.
  std::wstring productPath;
  try {
    productPath = nv::product_path();
  } catch (const std::system_error& error) {
    nv::show_error_message(static_cast<DWORD>(error.code().value()));
    return FALSE;
  }
  InstalledVersion installed = classifyInstalledProduct(productPath);
  existingInstall = installed.existingInstall;
  previousVersionText = std::move(installed.previousVersionText);
  previousVersion = installed.previousVersion;

  if (existingInstall == ExistingInstall::SameVersion ||
      existingInstall == ExistingInstall::OlderVersion) {
    const std::wstring logPath = uninstall_log::FindUninstallLog();
    if (!logPath.empty()) {
      uninstallLog.ReadUninstallLog(logPath.c_str());
      installFolder = uninstallLog.previousInstallFolder;
      menuFolder = uninstallLog.previousMenuFolder;
    }
  } else {
    uninstallLog.ReadUninstallLog(nullptr);
  }
  if (installFolder.empty()) installFolder = defaultInstallFolder();
  if (menuFolder.empty()) menuFolder = defaultMenuFolder();
  createMenuShortcut = true;
  createDesktopShortcut = true;
  advancedMode = false;

  runWizard();
  return FALSE;
}
