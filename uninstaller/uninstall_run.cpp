#include "uninstaller/uninstall_run.h"

#include <windows.h>

#include "engine/same_path.h"
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
}  // namespace Text

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

// Carries out the steps and keeps the books.
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
    removeLog();
    scheduleDeferredFolders();
    progress_.setProgress(1, 1);
  }

  RunResult result;

 private:
  void carryOut(const PlannedStep& step) {
    switch (step.kind) {
      case StepKind::removeFile:
        if (isOwnExecutable(step.path)) return defer(Text::RemovingFile, step.path);
        return removeEntry(Text::RemovingFile, step.path, step.place);
      case StepKind::removeShortcut:
        return removeEntry(Text::RemovingShortcut, step.path, step.place);
      case StepKind::removeFolder:
        if (holdsOwnExecutable(step.path)) return defer(Text::RemovingFolder, step.path);
        return removeFolder(step.path, step.place);
      case StepKind::removeUninstallKey:
        return registryStep(RemoveUninstallKey());
      case StepKind::unregisterProduct:
        unregister(step.path);
        return registryStep(RemoveProductPath());
      case StepKind::keepShared:
        return note(formatLocalized(Text::KeptShared, {step.path}));
      case StepKind::keepExample:
        return note(formatLocalized(Text::KeptExample, {step.path}));
      case StepKind::keepDirectX:
        return note(formatLocalized(Text::KeptDirectX, {step.path}));
      case StepKind::refuse:
        return note(formatLocalized(refusalText(step.verdict), {step.path}));
    }
  }

  // A line for the log and the summary.
  void note(const std::wstring& line) {
    progress_.appendLog(line + kLineBreak);
    result.summary.push_back(line);
  }

  void caption(UINT text, const std::wstring& path) {
    const std::wstring line = formatLocalized(text, {path});
    progress_.setStatusPath(line);
    progress_.appendLog(line);
  }

  void outcome(bool ok) {
    progress_.appendLog(localizedString(ok ? Text::Ok : Text::Failed) + kLineBreak);
  }

  void failed(const std::wstring& path) {
    outcome(false);
    result.incomplete = true;
    if (result.firstFailure.empty()) result.firstFailure = path;
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

  // The outcome of removing `path`, after its caption.
  void tell(const StepResult& step, const std::wstring& path) {
    switch (step.outcome) {
      case Outcome::removed:
        return removed(path);
      case Outcome::absent:
        return outcome(true);
      case Outcome::scheduled:
        return scheduled(path);
      case Outcome::notEmpty:
        progress_.appendLog(kLineBreak);
        return note(formatLocalized(Text::KeptNotEmpty, {path}));
      case Outcome::linkOnTheWay:
        // Put on the way since the plan was made: refused as the plan refuses such a path.
        progress_.appendLog(kLineBreak);
        return note(formatLocalized(Text::RefusedLink, {path}));
      default:
        return failed(path);
    }
  }

  // The uninstaller's own executable and its folders go after it has ended.
  void defer(UINT text, const std::wstring& path) {
    caption(text, path);
    outcome(true);
    result.deferred.push_back(path);
    result.summary.push_back(formatLocalized(Text::Removed, {path}));
  }

  void registryStep(const StepResult& step) {
    caption(Text::RemovingRegistry, {});
    if (step.outcome == Outcome::failed) return failed(L"HKEY_LOCAL_MACHINE");
    outcome(true);
  }

  void unregister(const std::wstring& mainProgram) {
    const std::wstring product = nv::product_label(true);
    caption(Text::Unregistering, product);
    if (mainProgram.empty() || !context_.installerMutex) return outcome(false);
    std::error_code error;
    const auto exitCode = RunUnregistration(mainProgram, *context_.installerMutex, error);
    if (!exitCode) return outcome(false);
    // The product's answer is recorded, never judged: its removal goes on in any case.
    progress_.appendLog(kLineBreak);
    progress_.appendLog(formatLocalized(Text::EndedWithCode,
                                        {product, std::to_wstring(static_cast<int>(*exitCode))}) +
                        kLineBreak);
  }

  // The log goes last, and only when everything else went: a run that could not finish keeps it,
  // so that the uninstaller can be started again.
  void removeLog() {
    if (context_.logPath.empty() || result.incomplete) {
      result.deferred.clear();
      return;
    }
    // The log lies in the uninstaller's own folder, where it was read.
    removeEntry(Text::RemovingFile, context_.logPath, {});
    if (result.incomplete) result.deferred.clear();
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
};

}  // namespace

RunResult RunRemoval(const std::vector<PlannedStep>& steps, const RunContext& context,
                     engine::InstallProgress& progress) {
  Removal removal(context, progress);
  removal.run(steps);
  const std::wstring end = OutcomeText(removal.result);
  progress.setStatus(end);
  progress.appendLog(end + kLineBreak);
  return std::move(removal.result);
}

int ExitCodeOf(const RunResult& result) {
  if (result.incomplete) return UninstallExit::Failed;
  return result.restartNeeded ? UninstallExit::RestartNeeded : UninstallExit::Removed;
}

std::wstring OutcomeText(const RunResult& result) {
  if (result.incomplete) return formatLocalized(Text::NotComplete, {result.firstFailure});
  return localizedString(result.restartNeeded ? Text::CompleteAfterRestart : Text::Complete);
}

}  // namespace uninstaller
