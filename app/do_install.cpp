#include "app/do_install.h"

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "app/extraction_callback.h"
#include "app/install_outcome.h"
#include "app/install_app.h"
#include "localization/languages.h"
#include "steps/directx_setup.h"
#include "payload/embedded_payload.h"
#include "payload/error_code_text.h"
#include "payload/payload_extractor.h"
#include "steps/product_registration.h"
#include "payload/path_tokens.h"
#include "steps/shortcuts.h"
#include "transaction/step_points.h"
#include "machine/temporary_folder.h"
#include "nv/fixed_path.h"
#include "nv/system_failure.h"
#include "nv/product.h"
#include "ui/wait_cursor.h"

namespace {

constexpr wchar_t kLineBreak[] = L"\r\n";

// "OK" or "Failed" and the end of the line.
std::wstring outcomeLine(bool outcome) {
  return localizedString(outcome ? 1011 : 1012) + kLineBreak;
}

// "Failed", the error code in brackets, and the end of the line.
std::wstring failedLine(const std::error_code& error) {
  return localizedString(1012) + L" (" + engine::error_code_text(error) + L")" + kLineBreak;
}

// Adds the read-only attribute to an existing file; a path that cannot be read is passed over.
void makeReadOnly(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES)
    ::SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_READONLY);
}

// "Uninstall.ulog" beside the uninstaller, formed in a 260-character buffer; empty when the
// uninstaller's folder cannot be taken or the name does not fit.
std::wstring uninstallLogPath(const std::wstring& uninstallerPath) {
  if (uninstallerPath.empty() || uninstallerPath.size() >= MAX_PATH) return {};
  wchar_t buffer[MAX_PATH] = {};
  uninstallerPath.copy(buffer, uninstallerPath.size());
  if (!::PathRemoveFileSpecW(buffer)) return {};
  if (!::PathAppendW(buffer, L"Uninstall.ulog")) return {};
  return buffer;
}

// A run that stops before anything was changed: string 1121 with `errorText` as status and line.
bool failBeforeChanges(engine::InstallProgress& progress, const std::wstring& errorText) {
  const LocalText failure = InstallFailedText(errorText);
  progress.setFailure(failure);
  progress.appendLog(failure() + kLineBreak);
  return false;
}

// Ends the journal of a run that an exception leaves after the extraction: rolled back while the
// installation can still be undone, committed once the uninstall log writer has taken the
// records over (it merges the previous installation's records into them, which a rollback must
// never undo).
class JournalGuard {
 public:
  explicit JournalGuard(engine::CInstallJournal& journal) : journal_(journal) {}
  ~JournalGuard() {
    if (state_ == State::Done || std::uncaught_exceptions() <= exceptions_) return;
    if (state_ == State::Undoable)
      journal_.Rollback();
    else
      journal_.Commit();
  }
  JournalGuard(const JournalGuard&) = delete;
  JournalGuard& operator=(const JournalGuard&) = delete;

  void handOver() noexcept { state_ = State::HandedOver; }
  void done() noexcept { state_ = State::Done; }

 private:
  enum class State { Undoable, HandedOver, Done };
  engine::CInstallJournal& journal_;
  const int exceptions_ = std::uncaught_exceptions();
  State state_ = State::Undoable;
};

// Ends the run file when DoInstall ends, on every way out: after the working folder has gone, so
// that an interruption before then still finds the run's journal.
class RunFileScope {
 public:
  explicit RunFileScope(engine::CInstallJournal& journal) : journal_(journal) {}
  ~RunFileScope() { journal_.CloseRunFile(); }
  RunFileScope(const RunFileScope&) = delete;
  RunFileScope& operator=(const RunFileScope&) = delete;

 private:
  engine::CInstallJournal& journal_;
};

// The folders and files a run writes to: the installation and Start-menu folders, the maker's
// data folders, and on the desktops the examples folder and the product's shortcut. Found as the
// extraction and the shortcuts find them.
std::vector<std::wstring> writtenPlaces(const CInstallApp& app, const std::wstring& samplesFolder) {
  constexpr wchar_t kMakerFolder[] = L"Nuvelle";
  std::vector<std::wstring> written = {app.installFolder, app.menuFolder};
  for (const std::wstring& data :
       {engine::known_folder(CSIDL_COMMON_APPDATA, CSIDL_APPDATA, true),
        engine::known_folder(CSIDL_APPDATA, CSIDL_APPDATA, false)})
    if (!data.empty()) written.push_back(nv::fixed_path::append(data, kMakerFolder));
  const std::wstring shortcut = nv::product_label(false) + L".lnk";
  for (const std::wstring& desktop :
       {engine::known_folder(CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY, true),
        engine::known_folder(CSIDL_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY, false)}) {
    if (desktop.empty()) continue;
    written.push_back(nv::fixed_path::append(desktop, samplesFolder));
    written.push_back(nv::fixed_path::append(desktop, shortcut));
  }
  return written;
}

}  // namespace

bool DoInstall(engine::InstallProgress& progress, CInstallApp& app, InstalledPrograms& programs) {
  programs.mainProgramPath.clear();
  programs.uninstallerPath.clear();
  progress.appendLog(L"", true);
  ui::wait_cursor waitCursor;
  progress.setStatus(localizedString(1114));

  std::wstring errorText;
  if (!app.MakeTemporaryFolderName(errorText)) return failBeforeChanges(progress, errorText);
  const std::wstring samplesFolder = formatLocalized(1018, {nv::product_label(true)});

  // From here on every change is written ahead to the run's journal file, so that a run that is
  // killed is undone at the next start. Declared first: the file goes last.
  RunFileScope runFile(app.uninstallLog);
  // The folders the run works in head its journal: an interrupted run's recovery acts in them
  // only.
  const engine::RunPlaces places{app.installFolder, app.menuFolder,
                                 app.uninstallLog.previousInstallFolder,
                                 app.uninstallLog.previousMenuFolder, app.tempFolder};
  if (const std::error_code error = app.uninstallLog.OpenRunFile(places))
    return failBeforeChanges(progress, engine::error_code_text(error));
  JournalGuard journalGuard(app.uninstallLog);
  app.uninstallLog.WriteAhead({engine::RecordKind::WorkingFolder, app.tempFolder});
  engine::ReachStep("install.begin");
  // An uninstallation that met a file in use left its deletion for the restart: it must not take
  // what this run writes. Without that the installation still works until the restart.
  app.uninstallLog.DropPendingDeletions(writtenPlaces(app, samplesFolder));
  engine::ReachStep("install.pending-dropped");

  // The working folder and the payload stream live until the end of this scope, on every way
  // out; the folder takes its temporary files with it.
  engine::CTemporaryFolder temporaryFolder(app.tempFolder);
  // A working folder that is not this run's own cannot be trusted with what runs elevated.
  if (const std::error_code error = temporaryFolder.Create()) {
    journalGuard.done();
    app.uninstallLog.Rollback();
    return failBeforeChanges(progress, engine::error_code_text(error));
  }
  progress.startProgress();
  const PayloadBytes current = CurrentPayload();
  engine::byte_range_stream payload(current.archive);

  CExtractionCallback callback(progress, app, programs, payload, current.digest);
  const bool extracted = engine::extract_payload(
      payload, app.installFolder, samplesFolder, app.tempFolder,
      [&callback](const engine::notification& report) { return callback(report); });
  if (!extracted) {
    journalGuard.done();
    app.uninstallLog.Rollback();
    return false;
  }
  engine::ReachStep("install.extracted");

  const std::wstring& mainProgramPath = programs.mainProgramPath;
  const std::wstring& uninstallerPath = programs.uninstallerPath;
  makeReadOnly(mainProgramPath);
  makeReadOnly(uninstallerPath);
  engine::ReachStep("install.read-only");

  engine::CreateShortcuts(app.uninstallLog, progress,
                          {app.createMenuShortcut, app.createDesktopShortcut, app.menuFolder},
                          mainProgramPath, uninstallerPath);
  engine::RunDirectXStep(app.uninstallLog, progress, app.existingInstall, app.tempFolder);

  progress.setStatus(localizedString(1118));
  progress.appendLog(localizedString(1118));
  engine::ReachStep("install.registry");
  app.uninstallLog.SecureUninstallKey();
  const bool keyWritten = engine::WriteUninstallKey(app.uninstallLog, mainProgramPath,
                                                    uninstallerPath,
                                                    currentLanguage().selectedLanguage);
  app.uninstallLog.SecureProductPath();
  const bool pathWritten = engine::WriteProductPath(mainProgramPath);
  engine::ReachStep("install.product-path");
  if (!pathWritten) {
    journalGuard.done();
    app.uninstallLog.Rollback();
    progress.appendLog(outcomeLine(false));
    progress.setFailure(InstallFailedText(L"-1"));
    return false;
  }
  const bool registered = engine::RunProductRegistration(app.uninstallLog, mainProgramPath,
                                                         app.previousVersion, app.installerMutex);
  progress.appendLog(outcomeLine(keyWritten && registered));

  progress.setStatus(localizedString(1119));
  progress.appendLog(localizedString(1119));
  const std::wstring logPath = uninstallLogPath(uninstallerPath);
  journalGuard.handOver();
  bool logWritten = false;
  std::error_code logError = nv::system_failure(ERROR_FILE_NOT_FOUND);
  if (logPath.empty()) {
    // Nowhere to write the log (the payload brought no uninstaller): the installation stands as
    // it is, and its journal ends all the same, or the next start would undo it.
    app.uninstallLog.Commit();
  } else {
    logWritten = app.uninstallLog.WriteUninstallLog(logPath, app.installFolder, app.menuFolder,
                                                    &logError);
  }
  journalGuard.done();
  engine::ReachStep("install.committed");
  progress.appendLog(logWritten ? outcomeLine(true) : failedLine(logError));
  progress.setStatus(formatLocalized(1106, {localizedString(1006)}));
  return true;
}
