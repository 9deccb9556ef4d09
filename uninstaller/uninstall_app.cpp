#include "uninstaller/uninstall_app.h"

#include <utility>
#include <vector>

#include "run/command_line.h"
#include "transaction/install_journal.h"
#include "run/startup_recovery.h"
#include "run/logged_progress.h"
#include "run/startup_report.h"
#include "localization/languages.h"
#include "localization/start_language.h"
#include "nv/command_line.h"
#include "nv/fatal_error.h"
#include "nv/fixed_path.h"
#include "nv/own_executable.h"
#include "nv/privileges.h"
#include "nv/processor_check.h"
#include "nv/product.h"
#include "nv/ui_hooks.h"
#include "nv/version_info.h"
#include "uninstall_log/log_format.h"
#include "transaction/removal_places.h"
#include "uninstaller/removal_plan.h"
#include "run/run_header.h"
#include "uninstaller/self_removal.h"
#include "uninstaller/uninstall_dlg.h"
#include "uninstaller/uninstall_run.h"

namespace uninstaller {

namespace {

// Message ids of start-up's texts.
namespace Text {
constexpr UINT Name = 1150;
constexpr UINT LogUnreadable = 1173;
constexpr UINT NotAdministrator = 1174;
constexpr UINT CloseProduct = 1175;
constexpr UINT NothingRemoved = 1177;
constexpr UINT Help = 1178;
constexpr UINT ForeignInstallFolder = 1179;
constexpr UINT Heading = 1180;
constexpr UINT UnremovableInstallFolder = 1195;
constexpr UINT RefusedMenuFolder = 1196;
constexpr UINT Interrupted = 1188;
}  // namespace Text

UninstallChecks& checks() {
  static UninstallChecks current;
  return current;
}

bool userIsAdministrator() {
  const auto& check = checks().isAdministrator;
  return check ? check() : nv::is_administrator();
}

std::uint32_t runningInstances() {
  const auto& count = checks().runningInstances;
  return count ? count() : nv::running_instances();
}

std::wstring commandLine() {
  const auto& line = checks().commandLine;
  return line ? line() : std::wstring(::GetCommandLineW());
}

std::wstring mutexName() {
  if (nv::application_id().empty()) nv::initialize_application_id();
  return nv::mutex_name(nv::application_id());
}

void chooseLanguage(CUninstallApp& app) {
  setCurrentLanguage(
      chooseStartLanguage(defaultLanguage(productLanguageMask), readStoredLanguage()));
  currentLanguage().selectedLanguage = currentLanguage().language;
  app.set_name(programTitle(Text::Name, true));
}

// What the log names and where the uninstaller may remove it.
struct Removal {
  std::wstring executable;
  std::wstring logPath;
  engine::CInstallJournal log;
  PlacesResult places;
};

// Carries out the removal, shown in `window` (none for an unattended run) and written to the
// /LOG file.
RunResult remove(CUninstallApp& app, Removal& removal, engine::InstallProgress* window,
                 bool removeExamples) {
  const auto steps = planRemoval(removal.log.previousRecords, removal.places.places, removeExamples);
  const RunContext context{removal.executable, removal.logPath, &app.installerMutex};
  CLoggedProgress logged(app.logFile, window);
  return RunRemoval(steps, context, logged);
}

// Leaves the uninstaller's own files to the finisher, once nothing is left to show: the finisher
// waits only a minute for the uninstaller to end. Without a finisher they go at the restart.
void handOver(const Removal& removal, RunResult& result) {
  if (result.deferred.empty() || !StartFinisher(removal.executable, result.deferred)) return;
  for (const auto& path : result.deferred)
    ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  result.restartNeeded = true;
}

int startUp(CUninstallApp& app, ParsedCommandLine parsed, CStartupReport& report) {
  const InstallOptions& options = parsed.options;
  if (options.logFile && !parsed.error) {
    if (const std::error_code error = app.logFile.Open(*options.logFile)) {
      parsed.error = OptionError{OptionFault::NotWritable, L"/LOG",
                                 nv::error_text(static_cast<DWORD>(error.value()))};
    } else {
      engine::WriteRunHeader(app.logFile, commandLine());
      report.note(engine::RunKindLine(L"removal of " + nv::product_label(false)));
    }
  }
  if (!nv::processor_supported)
    return report.refuse(SystemErrorText(static_cast<DWORD>(E_UNEXPECTED)),
                         UninstallExit::ProcessorUnsupported);
  if (parsed.error) {
    chooseLanguage(app);
    return report.refuse([&] { return describeOptionError(*parsed.error); },
                         UninstallExit::BadCommandLine,
                         localizedString(Text::NothingRemoved));
  }
  if (options.help) {
    if (report.unattended()) return UninstallExit::Removed;
    chooseLanguage(app);
    nv::message_box(localizedString(Text::Help), MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  if (!app.installerMutex.try_lock())
    return report.refuse(SystemErrorText(ERROR_BUSY), UninstallExit::Busy);
  // An installation that was killed or cut off by a power failure is undone before anything
  // reads the machine (the stored language, the log); it is told once the language is chosen.
  // Only an administrator's start recovers: any other ends at the refusal below.
  const bool administrator = userIsAdministrator();
  engine::RecoveryResult recovered = engine::RecoverIfAdministrator(administrator);
  chooseLanguage(app);

  const std::wstring product = nv::product_label(true);
  if (!administrator)
    return report.refuse([&] { return formatLocalized(Text::NotAdministrator, {product}); },
                         UninstallExit::NotAdministrator);
  // Nothing is removed over a run that could not be undone completely.
  if (const std::optional<int> stop =
          engine::ReportRecovery(report, std::move(recovered), UninstallExit::Busy))
    return *stop;
  while (runningInstances() > 1) {
    const LocalText text = [&] { return formatLocalized(Text::CloseProduct, {product}); };
    if (report.unattended()) return report.refuse(text, UninstallExit::Busy);
    if (nv::message_box(text(), MB_RETRYCANCEL | MB_ICONEXCLAMATION) != IDRETRY) {
      report.noteOutcome(text);
      return 0;
    }
  }

  Removal removal;
  removal.executable = nv::own_executable_path();
  const std::wstring ownFolder = nv::fixed_path::remove_file_spec(removal.executable);
  removal.logPath = nv::fixed_path::append(ownFolder, uninstall_log::log_file_name);
  if (!removal.log.ReadUninstallLog(removal.logPath.c_str(), engine::LogReading::whole))
    return report.refuse([&] { return formatLocalized(Text::LogUnreadable, {removal.logPath}); },
                         UninstallExit::Failed);
  removal.places = placesFor(removal.log.previousInstallFolder, removal.log.previousMenuFolder,
                             ownFolder, machineFolders());
  const PlaceRefusal installRefusal = removal.places.installRefusal;
  // A folder that no installation may use (a drive's root, a folder of the system): none of its
  // program files could go, so nothing goes, and the log and the key stay for another try.
  if (installRefusal != PlaceRefusal::none && installRefusal != PlaceRefusal::notOwnFolder)
    return report.refuse(
        [&] {
          return formatLocalized(Text::UnremovableInstallFolder,
                                 {engine::describePlaceRefusal(
                                     installRefusal, removal.log.previousInstallFolder)});
        },
        UninstallExit::Failed);
  report.note(formatLocalized(Text::Heading, {nv::product_label(false)}));
  if (installRefusal == PlaceRefusal::notOwnFolder)
    report.note(formatLocalized(Text::ForeignInstallFolder,
                                {removal.log.previousInstallFolder, ownFolder}));
  if (removal.places.menuRefusal != PlaceRefusal::none)
    report.note(formatLocalized(Text::RefusedMenuFolder,
                                {engine::describePlaceRefusal(removal.places.menuRefusal,
                                                              removal.log.previousMenuFolder)}));

  if (report.unattended()) {
    RunResult result = remove(app, removal, nullptr, options.removeExamples);
    handOver(removal, result);
    return ExitCodeOf(result);
  }
  CUninstallDlg dialog(hasExamples(removal.log.previousRecords),
                       [&](engine::InstallProgress& progress, bool removeExamples) {
                         return remove(app, removal, &progress, removeExamples);
                       });
  const INT_PTR answer = dialog.DoModal();
  if (!dialog.removed()) {
    report.noteOutcome([] { return localizedString(Text::NothingRemoved); });
    return answer == -1 ? UninstallExit::Failed : UninstallExit::Cancelled;
  }
  RunResult result = dialog.result();
  handOver(removal, result);
  return ExitCodeOf(result);
}

}  // namespace

UninstallChecks setUninstallChecks(UninstallChecks replacement) {
  return std::exchange(checks(), std::move(replacement));
}

CUninstallApp::CUninstallApp() : installerMutex(mutexName(), false, true) {
  nv::set_current_product(nv::tessaline_7);
  HICON icon = nv::executable_icon();
  nv::ui_providers().application_icon = [icon] { return icon; };
}

CUninstallApp::~CUninstallApp() {
  if (installerMutex.owned()) installerMutex.unlock();
}

BOOL CUninstallApp::InitInstance() {
  nv::set_current_lcid_source([]() -> LCID { return currentLanguage().lcid; });
  // Until start-up has chosen the language (a refusal at the mutex comes before it), the /LOG
  // file's lines are English.
  setCurrentLanguage(Languages::English);
  const std::wstring line = commandLine();
  const std::vector<std::wstring> arguments = nv::command_line_arguments(line);
  // The finisher, started by an uninstaller that has done its work, has no window and no log.
  if (!arguments.empty() && _wcsnicmp(arguments[0].c_str(), kFinishOption,
                                      std::char_traits<wchar_t>::length(kFinishOption)) == 0) {
    set_exit_code(RunFinisher(arguments, nv::own_executable_path()));
    return FALSE;
  }

  ParsedCommandLine parsed = parseCommandLine(line, Program::Uninstaller);
  // A refusal ends with its exit code, with or without a window.
  CStartupReport report(logFile, parsed.options.unattended);
  int exitCode = UninstallExit::Failed;
  try {
    exitCode = startUp(*this, std::move(parsed), report);
  } catch (...) {
    // Something the uninstaller did not expect ended it. What it had not removed yet stays, and
    // so do the uninstall key and the log, which go only at the end of a complete removal.
    if (logFile.isOpen() && !logFile.outcomeWritten())
      logFile.writeOutcome(inEnglish([] { return localizedString(Text::Interrupted); }));
  }
  if (logFile.isOpen()) report.noteExitCode(exitCode);
  set_exit_code(exitCode);
  return FALSE;
}

}  // namespace uninstaller
