// The installer's start-up: the command line, the checks that may refuse to run, the language,
// the existing installation and the default folders, then the wizard, or with /S the unattended
// installation.
#include <system_error>

#include "run/command_line.h"
#include "machine/folder_rules.h"
#include "machine/same_path.h"
#include "app/install_app.h"
#include "app/install_outcome.h"
#include "app/install_startup.h"
#include "localization/languages.h"
#include "app/unattended_install.h"
#include "run/run_header.h"
#include "run/startup_recovery.h"
#include "run/startup_report.h"
#include "transaction/step_points.h"
#include "nv/fatal_error.h"
#include "nv/fixed_path.h"
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

int runUnattended(CInstallApp& app) {
  const auto& run = startupChecks().runUnattended;
  return run ? run() : RunUnattendedInstall(app);
}

std::wstring commandLine() {
  const auto& line = startupChecks().commandLine;
  return line ? line() : std::wstring(::GetCommandLineW());
}

// How start-up tells what stops it or what it changed. The wizard's run shows a refusal in a
// message box and ends with exit code 0; an unattended run shows nothing and ends with the code
// that names the reason. Either writes the text into the /LOG file when there is one.
class StartupReport : public CStartupReport {
 public:
  StartupReport(CInstallApp& app, bool unattended) : CStartupReport(app.logFile, unattended, 0) {}
};

// The system's default language or the one an earlier installation stored, made current and
// named in the application's title.
void chooseStartupLanguage(CInstallApp& app) {
  setCurrentLanguage(
      chooseStartLanguage(defaultLanguage(productLanguageMask), readStoredLanguage()));
  currentLanguage().selectedLanguage = currentLanguage().language;
  app.set_name(applicationTitle(true));
}

// The language of /LANG, taken as a choice on the Start page is: recorded for the product, and
// current unless the installer has no translation for it, which is then said and English used.
void chooseOptionLanguage(CInstallApp& app, LanguageId language, StartupReport& report) {
  currentLanguage().selectedLanguage = language;
  setCurrentLanguage(language);
  const bool translated = isInstallerUiLanguage(language);
  if (!translated) setCurrentLanguage(Languages::English);
  app.set_name(applicationTitle(true));
  if (!translated)
    report.tell(formatLocalized(1129, {nv::product_label(true)}), MB_OK | MB_ICONINFORMATION);
}

// The Start-menu folder /MENU names: the path itself when absolute, else below the Programs menu;
// empty when that does not fit the installer's paths.
std::wstring menuFolderOf(const std::wstring& option) {
  if (option.size() >= 2 && option[1] == L':') return option;
  const std::wstring programs = programsMenuFolder();
  return programs.empty() ? std::wstring() : nv::fixed_path::append(programs, option);
}

// Opens the /LOG file when there is one; the error when it cannot be opened.
std::optional<OptionError> openLogFile(CInstallApp& app, const InstallOptions& options) {
  if (!options.logFile) return std::nullopt;
  const std::error_code error = app.logFile.Open(*options.logFile);
  if (!error) {
    engine::WriteRunHeader(app.logFile, commandLine());
    return std::nullopt;
  }
  return OptionError{OptionFault::NotWritable, L"/LOG",
                     nv::error_text(static_cast<DWORD>(error.value()))};
}

// The refusal of `option`'s folder when no installation may use it.
std::optional<OptionError> unacceptable(const wchar_t* option, const std::wstring& folder,
                                        engine::PlaceRefusal refusal) {
  if (refusal == engine::PlaceRefusal::none) return std::nullopt;
  return OptionError{OptionFault::Unacceptable, option, folder, refusal};
}

// The first error of the folder options that the machine decides: folders that no installation
// may use (the uninstaller could never remove from them), and folders that run into files.
// `menuFolder` receives the Start-menu folder of /MENU.
std::optional<OptionError> checkFolders(const InstallOptions& options, std::wstring& menuFolder) {
  const engine::MachineFolders& machine = engine::machineFolders();
  if (options.installFolder) {
    const std::wstring& folder = *options.installFolder;
    if (auto error = unacceptable(L"/D", folder, engine::judgeInstallFolder(folder, machine)))
      return error;
    if (auto error = checkFolderOnMachine(L"/D", folder)) return error;
  }
  if (options.menuFolder) {
    menuFolder = menuFolderOf(*options.menuFolder);
    if (menuFolder.empty()) return OptionError{OptionFault::NotAPath, L"/MENU", {}};
    if (auto error = unacceptable(L"/MENU", menuFolder, engine::judgeMenuFolder(menuFolder, machine)))
      return error;
    if (auto error = checkFolderOnMachine(L"/MENU", menuFolder)) return error;
  }
  return std::nullopt;
}

// The folders and shortcuts of the command line over the settings start-up found. An existing
// installation keeps its folder, as the Folder page keeps it.
void applyOptions(CInstallApp& app, const InstallOptions& options, const std::wstring& menuFolder,
                  StartupReport& report) {
  if (options.installFolder) {
    if (app.existingInstall == ExistingInstall::None)
      app.installFolder = *options.installFolder;
    else if (!engine::SamePath(*options.installFolder, app.installFolder))
      // The folder it names is the existing installation's: nothing is ignored.
      report.note(formatLocalized(1134, {L"/D", app.installFolder}));
  }
  if (!menuFolder.empty()) app.menuFolder = menuFolder;
  if (options.shortcuts) {
    app.createMenuShortcut = options.shortcuts->menu;
    app.createDesktopShortcut = options.shortcuts->desktop;
  }
}

// Start-up after the command line was read; the exit code.
int startUp(CInstallApp& app, ParsedCommandLine parsed, StartupReport& report) {
  const InstallOptions& options = parsed.options;
  // The log is opened first, so that it also receives the reason of a refused command line.
  std::optional<OptionError> logError = openLogFile(app, options);
  if (!parsed.error) parsed.error = std::move(logError);
  std::wstring menuFolder;
  if (!parsed.error) parsed.error = checkFolders(options, menuFolder);

  if (!nv::processor_supported)
    return report.refuse(SystemErrorText(static_cast<DWORD>(E_UNEXPECTED)),
                         UnattendedExit::ProcessorUnsupported);
  if (parsed.error) {
    chooseStartupLanguage(app);
    return report.refuse([&] { return describeOptionError(*parsed.error); },
                         UnattendedExit::BadCommandLine,
                         localizedString(1142));
  }
  if (options.help) {
    if (report.unattended()) return UnattendedExit::Installed;
    chooseStartupLanguage(app);
    nv::message_box(localizedString(1143), MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  if (!app.installerMutex.try_lock())
    return report.refuse(SystemErrorText(ERROR_BUSY), UnattendedExit::Busy);
  // An installation that was killed or cut off by a power failure is undone before anything
  // reads the machine, the stored language included; it is told once the language is chosen.
  // Only an administrator's start recovers: any other ends at the refusal below.
  const bool administrator = userIsAdministrator();
  engine::RecoveryResult recovered = engine::RecoverIfAdministrator(administrator);

  chooseStartupLanguage(app);
  if (options.language) chooseOptionLanguage(app, *options.language, report);
  if (!administrator)
    return report.refuse([] { return localizedString(1126); }, UnattendedExit::NotAdministrator);
  // Nothing is installed over a run that could not be undone completely.
  if (const std::optional<int> stop =
          engine::ReportRecovery(report, std::move(recovered), UnattendedExit::Busy))
    return *stop;
  engine::ReachStep("startup.recovered");
  while (runningInstances() > 1) {
    const LocalText text = [] { return formatLocalized(1127, {nv::product_label(true)}); };
    // An unattended run does not wait: the deployment system tries again later.
    if (report.unattended()) return report.refuse(text, UnattendedExit::Busy);
    if (nv::message_box(text(), MB_RETRYCANCEL | MB_ICONEXCLAMATION) != IDRETRY) {
      report.noteOutcome(text);
      return 0;
    }
  }

  // A registry failure other than a missing value leaves the installer unable to tell what is
  // installed; it says why and ends rather than treat the machine as empty.
  std::wstring productPath;
  try {
    productPath = nv::product_path();
  } catch (const std::system_error& error) {
    return report.refuse(SystemErrorText(static_cast<DWORD>(error.code().value())),
                         UnattendedExit::Failed);
  }
  InstalledVersion installed = classifyInstalledProduct(productPath);
  report.note(engine::RunKindLine(runKind(installed)));
  app.existingInstall = installed.existingInstall;
  app.previousVersionText = std::move(installed.previousVersionText);
  app.previousVersion = installed.previousVersion;
  // The wizard says so on its Start page and lets nothing be installed.
  if (app.existingInstall == ExistingInstall::NewerVersion && report.unattended())
    return report.refuse([&] { return formatLocalized(1103, {app.previousVersionText}); },
                         UnattendedExit::NewerInstalled);

  if (app.existingInstall == ExistingInstall::SameVersion ||
      app.existingInstall == ExistingInstall::OlderVersion) {
    const std::wstring logPath = uninstall_log::FindUninstallLog();
    if (!logPath.empty()) {
      app.uninstallLog.ReadUninstallLog(logPath.c_str());
      app.installFolder = app.uninstallLog.previousInstallFolder;
      app.menuFolder = app.uninstallLog.previousMenuFolder;
    }
  } else {
    app.uninstallLog.ReadUninstallLog(nullptr);
  }
  if (app.installFolder.empty()) app.installFolder = defaultInstallFolder();
  if (app.menuFolder.empty()) app.menuFolder = defaultMenuFolder();
  app.createMenuShortcut = true;
  app.createDesktopShortcut = true;
  app.advancedMode = false;
  applyOptions(app, options, menuFolder, report);

  if (report.unattended()) return runUnattended(app);
  runWizard();
  return 0;
}

}  // namespace

BOOL CInstallApp::InitInstance() {
  // The support library learns the current language from here on: version texts follow it, and
  // boxes without an owner read right to left when the default language does.
  nv::set_current_lcid_source([]() -> LCID { return currentLanguage().lcid; });
  nv::ui_providers().default_language_rtl = [] { return isRightToLeftLanguage(defaultLanguage()); };

  ParsedCommandLine parsed = parseCommandLine(commandLine());
  StartupReport report(*this, parsed.options.unattended);
  int exitCode = UnattendedExit::Failed;
  try {
    exitCode = startUp(*this, std::move(parsed), report);
  } catch (...) {
    // Something the wizard did not expect ended it. An installation it interrupted was ended as
    // a failure on its way out (undone, or kept once the uninstall log had taken it over); the
    // run ends as failed, and the log says so once.
    if (logFile.isOpen() && !logFile.outcomeWritten())
      logFile.writeOutcome(inEnglish(InstallFailedText(L"7")));
  }
  if (logFile.isOpen()) report.noteExitCode(exitCode);
  set_exit_code(exitCode);
  return FALSE;
}
