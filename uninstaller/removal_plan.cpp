#include "uninstaller/removal_plan.h"

namespace uninstaller {

namespace {

using engine::JournalRecord;
using engine::RecordKind;

// Payload kinds of installed files.
constexpr int kLanguageLibrary = 0;
constexpr int kUninstaller = 2;
constexpr int kSharedData = 3;
constexpr int kSample = 4;
constexpr int kMainProgram = 1;

// A removal of `path` when the places allow it, else its refusal.
PlannedStep judged(StepKind kind, const RemovalPlaces& places, const JournalRecord& record) {
  std::wstring place;
  const PathVerdict verdict =
      judgePath(places, record.kind, record.payloadKind, record.path, &place);
  if (verdict != PathVerdict::allowed) return {StepKind::refuse, record.path, verdict};
  return {kind, record.path, verdict, place};
}

// The newest installed main program the places allow; empty when there is none.
std::wstring mainProgram(const std::vector<JournalRecord>& records, const RemovalPlaces& places) {
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    if (it->done && it->kind == RecordKind::InstalledFile && it->payloadKind == kMainProgram &&
        judgePath(places, it->kind, it->payloadKind, it->path) == PathVerdict::allowed)
      return it->path;
  }
  return {};
}

}  // namespace

bool hasExamples(const std::vector<JournalRecord>& records) {
  for (const auto& record : records)
    if (record.done && record.kind == RecordKind::InstalledFile && record.payloadKind == kSample)
      return true;
  return false;
}

std::vector<PlannedStep> planRemoval(const std::vector<JournalRecord>& records,
                                     const RemovalPlaces& places, bool removeExamples) {
  std::vector<PlannedStep> steps;
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    const JournalRecord& record = *it;
    if (!record.done) continue;  // the installer did not carry it out
    switch (record.kind) {
      case RecordKind::CreatedFolder:
        steps.push_back(judged(StepKind::removeFolder, places, record));
        break;
      case RecordKind::InstalledFile:
        if (record.payloadKind == kSharedData)
          steps.push_back({StepKind::keepShared, record.path});
        else if (record.payloadKind == kSample && !removeExamples)
          steps.push_back({StepKind::keepExample, record.path});
        else if (record.payloadKind == kSample ||
                 (record.payloadKind >= kLanguageLibrary && record.payloadKind <= kUninstaller))
          steps.push_back(judged(StepKind::removeFile, places, record));
        else
          steps.push_back({StepKind::refuse, record.path, PathVerdict::outside});
        break;
      case RecordKind::MenuShortcut:
      case RecordKind::UninstallShortcut:
      case RecordKind::DesktopShortcut:
        steps.push_back(judged(StepKind::removeShortcut, places, record));
        break;
      case RecordKind::UninstallKey:
        steps.push_back({StepKind::removeUninstallKey, {}});
        break;
      case RecordKind::ProductRegistration:
        steps.push_back({StepKind::unregisterProduct, mainProgram(records, places)});
        break;
      case RecordKind::DirectXUpdate:
        steps.push_back({StepKind::keepDirectX, record.path});
        break;
      case RecordKind::WorkingFolder:
      case RecordKind::TemporaryFile:
      case RecordKind::ProductPathValue:
      case RecordKind::PendingDeletions:
        break;  // kinds of a run's journal file only: nothing an installation leaves to remove
    }
  }
  return steps;
}

}  // namespace uninstaller
