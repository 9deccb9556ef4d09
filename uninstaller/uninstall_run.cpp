#include "uninstaller/uninstall_run.h"

#include <windows.h>

#include "steps/product_registration.h"
#include "machine/same_path.h"
#include "localization/languages.h"
#include "nv/link_check.h"
#include "nv/product.h"
#include "uninstaller/removal_steps.h"

namespace uninstaller {

namespace {

constexpr wchar_t kLineBreak[] = L"\r\n";

// Message ids of the uninstaller's texts.
namespace Text {
constexpr UINT Ok = 1011;
constexpr UINT Failed = 1012;
constexpr UINT RemovingFile = 1156;
constexpr UINT RemovingShortcut = 1157;
constexpr UINT RemovingFolder = 1158;
constexpr UINT RemovingRegistry = 1159;
constexpr UINT Unregistering = 1160;
constexpr UINT EndedWithCode = 1161;
constexpr UINT RefusedOutside = 1162;
constexpr UINT RefusedParent = 1163;
constexpr UINT RefusedLink = 1164;
constexpr UINT InUse = 1165;
constexpr UINT KeptShared = 1166;
constexpr UINT KeptExample = 1167;
constexpr UINT KeptNotEmpty = 1168;
constexpr UINT KeptDirectX = 1169;
constexpr UINT Complete = 1170;
constexpr UINT CompleteAfterRestart = 1171;
constexpr UINT NotComplete = 1172;
constexpr UINT Removed = 1176;
constexpr UINT LeftFailed = 1182;
constexpr UINT WayBackKept = 1183;
constexpr UINT NotCompleteRefused = 1184;
constexpr UINT LeftRegistered = 1185;
constexpr UINT RemovedAfterEnd = 1187;
}  // namespace Text

// The DirectX runtime by its name, the same in every language: the log holds the caption the
// installer showed, in the installer's language.
constexpr wchar_t kDirectXName[] = L"DirectX";

UINT refusalText(PathVerdict verdict) {
  switch (verdict) {
    case PathVerdict::parentElement:
      return Text::RefusedParent;
    case PathVerdict::linkOnTheWay:
      return Text::RefusedLink;
    default:
      return Text::RefusedOutside;
  }
}

bool isMissing(const std::error_code& error) {
  return error.category() == std::system_category() &&
         (error.value() == ERROR_FILE_NOT_FOUND || error.value() == ERROR_PATH_NOT_FOUND);
}

std::wstring localMachine(const std::wstring& key) { return L"HKEY_LOCAL_MACHINE\\" + key; }

// Carries out the steps and keeps the books. What the log names is removed only when nothing
// else is left: the uninstall key and the log itself go last, and stay, with the uninstaller,
// when anything was refused or failed, so that the removal can be started again.
class Removal {
 public:
  Removal(const RunContext& context, engine::InstallProgress& progress)
      : context_(context), progress_(progress) {}

  void run(const std::vector<PlannedStep>& steps) {
    progress_.startProgress();
    for (std::size_t i = 0; i < steps.size(); ++i) {
      carryOut(steps[i]);
      progress_.setProgress(i + 1, steps.size() + 1);
    }
    finish();
    progress_.setProgress(1, 1);
  }

  RunResult result;

 private:
  void carryOut(const PlannedStep& step) {
    switch (step.kind) {
      case StepKind::removeFile:
        if (isOwnExecutable(step.path)) return defer(step.path);
        return removeEntry(Text::RemovingFile, step.path, step.place);
      case StepKind::removeShortcut:
        return removeEntry(Text::RemovingShortcut, step.path, step.place);
      case StepKind::removeFolder:
        if (holdsOwnExecutable(step.path)) return defer(step.path);
        return removeFolder(step.path, step.place);
      case StepKind::removeUninstallKey:
        removeKey_ = true;  // the way back: removed last, when nothing else is left
        return;
      case StepKind::unregisterProduct:
        if (!unregister(step.path)) return;
        return registryStep(localMachine(std::wstring(engine::makerKey) + L"\\" +
                                         engine::ProductPathValueName()),
                            RemoveProductPath());
      case StepKind::keepShared:
        return note(formatLocalized(Text::KeptShared, {step.path}));
      case StepKind::keepExample:
        return note(formatLocalized(Text::KeptExample, {step.path}));
      case StepKind::keepDirectX:
        return note(formatLocalized(Text::KeptDirectX, {kDirectXName}));
      case StepKind::refuse:
        note(formatLocalized(refusalText(step.verdict), {step.path}));
        return leave(step.path, false);
    }
  }

  // A line for the log and the summary.
  void note(const std::wstring& line) {
    progress_.appendLog(line + kLineBreak);
    result.summary.push_back(line);
  }

  void caption(UINT text, const std::wstring& object) {
    const std::wstring line = formatLocalized(text, {object});
    progress_.setStatusPath(line);
    progress_.appendLog(line);
  }

  // Ends the caption's line with its outcome.
  void outcome(bool ok) {
    progress_.appendLog(localizedString(ok ? Text::Ok : Text::Failed) + kLineBreak);
  }

  // `path` stays: the removal is incomplete and keeps its way back.
  void leave(const std::wstring& path, bool failedHere) {
    result.incomplete = true;
    if (failedHere && result.firstFailure.empty()) result.firstFailure = path;
    if (result.firstLeft.empty()) result.firstLeft = path;
  }

  void failed(const std::wstring& path) {
    outcome(false);
    result.summary.push_back(formatLocalized(Text::LeftFailed, {path}));
    leave(path, true);
  }

  void removed(const std::wstring& path) {
    outcome(true);
    result.summary.push_back(formatLocalized(Text::Removed, {path}));
  }

  void scheduled(const std::wstring& path) {
    outcome(true);
    scheduled_.push_back(path);
    result.restartNeeded = true;
    note(formatLocalized(Text::InUse, {path}));
  }

  // Removes the file or link `path` below `place` (empty: exactly where `path` names it).
  void removeEntry(UINT text, const std::wstring& path, const std::wstring& place) {
    caption(text, path);
    tell(RemoveFileOrLink(path, place), path);
  }

  void removeFolder(const std::wstring& path, const std::wstring& place) {
    caption(Text::RemovingFolder, path);
    tell(RemoveEmptyFolder(path, place, scheduled_), path);
  }

  // The outcome of removing `path`, on its caption's line.
  void tell(const StepResult& step, const std::wstring& path) {
    switch (step.outcome) {
      case Outcome::removed:
        return removed(path);
      case Outcome::absent:
        return outcome(true);
      case Outcome::scheduled:
        return scheduled(path);
      case Outcome::notEmpty:
        // A folder that holds what the person or another product put there is theirs to keep.
        return note(formatLocalized(Text::KeptNotEmpty, {path}));
      case Outcome::linkOnTheWay:
        // Put on the way since the plan was made: refused as the plan refuses such a path.
        note(formatLocalized(Text::RefusedLink, {path}));
        return leave(path, false);
      default:
        return failed(path);
    }
  }

  // The uninstaller's own executable and the folders that hold it go after it has ended.
  void defer(const std::wstring& path) { result.deferred.push_back(path); }

  // Removes a registry key or value through `step`, named by `name`.
  void registryStep(const std::wstring& name, const StepResult& step) {
    caption(Text::RemovingRegistry, name);
    if (step.outcome == Outcome::failed) return failed(name);
    outcome(true);
  }

  // The product's own unregistration; false when it could not run, the product then stays
  // registered and its path value with it.
  bool unregister(const std::wstring& mainProgram) {
    const std::wstring product = nv::product_label(true);
    caption(Text::Unregistering, product);
    std::error_code error;
    std::optional<DWORD> exitCode;
    if (!mainProgram.empty() && context_.installerMutex)
      exitCode = RunUnregistration(mainProgram, *context_.installerMutex, error);
    if (!exitCode && isMissing(error)) {
      // The program went with an earlier, incomplete removal that had unregistered it.
      outcome(false);
      return true;
    }
    if (!exitCode) {
      outcome(false);
      result.summary.push_back(formatLocalized(Text::LeftRegistered, {product}));
      leave(product, true);
      return false;
    }
    // The product's answer is recorded, never judged: its removal goes on in any case.
    progress_.appendLog(
        formatLocalized(Text::EndedWithCode,
                        {product, std::to_wstring(static_cast<int>(*exitCode))}) +
        kLineBreak);
    return true;
  }

  // The way back goes last, and only when nothing else is left: the uninstall key, the log, and
  // (after the uninstaller has ended) the uninstaller with its folders. Otherwise all of them stay
  // so that the uninstaller can be started again.
  void finish() {
    if (!result.incomplete && removeKey_)
      registryStep(localMachine(engine::ProductUninstallKeyPath()), RemoveUninstallKey());
    // The log lies in the uninstaller's own folder, where it was read.
    if (!result.incomplete && !context_.logPath.empty())
      removeEntry(Text::RemovingFile, context_.logPath, {});
    if (result.incomplete || context_.logPath.empty()) {
      result.deferred.clear();
      if (result.incomplete) note(localizedString(Text::WayBackKept));
      return;
    }
    for (const auto& path : result.deferred) note(formatLocalized(Text::RemovedAfterEnd, {path}));
    scheduleDeferredFolders();
  }

  // A deferred folder that holds something removed only at the restart cannot be emptied by the
  // finisher; it goes at the restart too, after what it holds.
  void scheduleDeferredFolders() {
    for (const auto& folder : result.deferred) {
      bool holdsScheduled = false;
      for (const auto& path : scheduled_) holdsScheduled = holdsScheduled || nv::is_below(folder, path);
      if (holdsScheduled) ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
  }

  bool isOwnExecutable(const std::wstring& path) const {
    return !context_.ownExecutable.empty() && engine::SamePath(path, context_.ownExecutable);
  }
  bool holdsOwnExecutable(const std::wstring& folder) const {
    return !context_.ownExecutable.empty() && nv::is_below(folder, context_.ownExecutable);
  }

  const RunContext& context_;
  engine::InstallProgress& progress_;
  std::vector<std::wstring> scheduled_;
  bool removeKey_ = false;
};

}  // namespace

RunResult RunRemoval(const std::vector<PlannedStep>& steps, const RunContext& context,
                     engine::InstallProgress& progress) {
  Removal removal(context, progress);
  removal.run(steps);
  const RunResult& result = removal.result;
  progress.appendOutcome([&result] { return OutcomeText(result); });
  return std::move(removal.result);
}

int ExitCodeOf(const RunResult& result) {
  if (result.incomplete) return UninstallExit::Failed;
  return result.restartNeeded ? UninstallExit::RestartNeeded : UninstallExit::Removed;
}

std::wstring OutcomeText(const RunResult& result) {
  if (!result.firstFailure.empty()) return formatLocalized(Text::NotComplete, {result.firstFailure});
  if (result.incomplete) return formatLocalized(Text::NotCompleteRefused, {result.firstLeft});
  return localizedString(result.restartNeeded ? Text::CompleteAfterRestart : Text::Complete);
}

}  // namespace uninstaller
