#include "transaction/interrupted_runs.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "transaction/journal_file.h"
#include "transaction/journal_folder.h"
#include "transaction/journal_undo.h"
#include "transaction/removal_places.h"
#include "transaction/step_points.h"
#include "machine/write_trust.h"
#include "nv/fixed_path.h"
#include "nv/link_check.h"
#include "nv/unique_handle.h"

namespace engine {
namespace {

// A journal far larger than any run writes was not written by one.
constexpr LONGLONG kMaxJournalBytes = 64LL << 20;

// A journal file held for its recovery: opened without sharing, so that neither its run (were it
// still alive) nor another recovery can use it meanwhile.
struct HeldJournal {
  std::wstring path;
  nv::unique_handle file;
  FILETIME created{};
};

enum class Opening { Held, Alive, Refused };

Opening Hold(const std::wstring& path, HeldJournal& held) {
  held.path = path;
  held.file.reset(::CreateFileW(path.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!held.file)
    return ::GetLastError() == ERROR_SHARING_VIOLATION ? Opening::Alive : Opening::Refused;
  // Only a plain file that nobody but the trusted may have written says what an elevated start
  // may undo.
  if (!nv::is_plain_file(nv::facts_of(held.file.get())) ||
      !OnlyTrustedMayChange(held.file.get(), WriteScope::Everything))
    return Opening::Refused;
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(held.file.get(), &information)) return Opening::Refused;
  held.created = information.ftCreationTime;
  return Opening::Held;
}

bool ReadAll(HANDLE file, std::string& bytes) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart > kMaxJournalBytes) return false;
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  return bytes.empty() ||
         (::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
          read == bytes.size());
}

// Journal files were written into the folder, as plain files; everything else there is passed
// over.
std::vector<std::wstring> JournalFiles(const std::wstring& folder) {
  std::vector<std::wstring> files;
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = folder + L"\\*" + kJournalExtension;
  const nv::unique_find search(::FindFirstFileW(pattern.c_str(), &found));
  if (!search) return files;
  do {
    const std::wstring name = found.cFileName;
    const std::wstring_view extension = kJournalExtension;
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    // The pattern also matches longer extensions through short names.
    if (name.size() <= extension.size() ||
        ::CompareStringOrdinal(name.c_str() + name.size() - extension.size(),
                               static_cast<int>(extension.size()), extension.data(),
                               static_cast<int>(extension.size()), TRUE) != CSTR_EQUAL)
      continue;
    files.push_back(folder + L"\\" + name);
  } while (::FindNextFileW(search.get(), &found));
  return files;
}

bool IsScratch(RecordKind kind) {
  return kind == RecordKind::WorkingFolder || kind == RecordKind::TemporaryFile;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return !a.empty() && ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// True when `name` begins with `prefix`, compared as Windows compares names.
bool StartsWith(const std::wstring& name, const std::wstring& prefix) {
  return name.size() > prefix.size() &&
         ::CompareStringOrdinal(name.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

// What one run may touch: the places it named in its journal, judged by the rules the
// uninstaller applies, and its own files beside its journal.
class RunBounds {
 public:
  RunBounds(const RunPlaces& named, const std::wstring& folder, const std::wstring& runName)
      : folder_(folder), prefix_(runName + L"-"), working_(named.workingFolder) {
    const MachineFolders& machine = machineFolders();
    now_ = placesFor(named.installFolder, named.menuFolder, named.installFolder, machine).places;
    before_ = placesFor(named.previousInstallFolder, named.previousMenuFolder,
                        named.previousInstallFolder, machine)
                  .places;
  }

  // True when undoing `record` stays inside the run's places.
  bool admits(const JournalRecord& record) const {
    if (!ownBackup(record.backupPath)) return false;
    switch (record.kind) {
      case RecordKind::CreatedFolder:
      case RecordKind::InstalledFile:
        return inPlaces(record.kind, record.payloadKind, record.path);
      case RecordKind::MenuShortcut:
      case RecordKind::UninstallShortcut:
      case RecordKind::DesktopShortcut:
        return inPlaces(record.kind, -1, record.path) &&
               (record.backupSource.empty() || inPlaces(record.kind, -1, record.backupSource));
      case RecordKind::WorkingFolder:
        return SameText(record.path, working_);
      case RecordKind::TemporaryFile:
        return SameText(nv::fixed_path::remove_file_spec(record.path), working_);
      default:
        return true;  // the product's keys and values: their names are fixed
    }
  }

  // True when `path` is one of the run's own files beside its journal.
  bool ownFile(const std::wstring& path) const {
    return SameText(nv::fixed_path::remove_file_spec(path), folder_) &&
           StartsWith(nv::fixed_path::file_name(path), prefix_);
  }

 private:
  bool ownBackup(const std::wstring& backup) const { return backup.empty() || ownFile(backup); }

  bool inPlaces(RecordKind kind, int payloadKind, const std::wstring& path) const {
    return path.empty() || judgePath(now_, kind, payloadKind, path) == PathVerdict::allowed ||
           judgePath(before_, kind, payloadKind, path) == PathVerdict::allowed;
  }

  std::wstring folder_;
  std::wstring prefix_;
  std::wstring working_;
  RemovalPlaces now_;
  RemovalPlaces before_;
};

// The path a failed undo of `record` left behind: the file that stays or that could not come
// back.
const std::wstring& HeldPath(const JournalRecord& record) {
  return !record.path.empty() ? record.path : record.backupSource;
}

// Deletes the files of the run `runName` that are still beside its journal (backups of records
// that were refused or already used); plain files only, never through a link.
void DeleteRunFiles(const std::wstring& folder, const std::wstring& runName) {
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = folder + L"\\" + runName + L"-*";
  const nv::unique_find search(::FindFirstFileW(pattern.c_str(), &found));
  if (!search) return;
  do {
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    DeleteAnyFile((folder + L"\\" + found.cFileName).c_str());
  } while (::FindNextFileW(search.get(), &found));
}

// Undoes (or, for a run that committed, clears up after) the run of one held journal; false when
// the journal is not one to act on. A run that could not be undone completely keeps its journal.
bool Recover(HeldJournal& held, const std::wstring& folder, RecoveredRun& run) {
  std::string bytes;
  if (!ReadAll(held.file.get(), bytes)) return false;
  JournalReplay replay = ReadJournal(bytes);
  run.journal = held.path;
  if (!replay.known) {
    // Cut before its version line was complete: the run made no change. Any other content is
    // not this format's to judge.
    const std::string_view version = kJournalVersionLine;
    if (bytes.size() > version.size() || version.substr(0, bytes.size()) != bytes) return false;
  }
  run.finished = replay.committed;
  run.damaged = replay.damaged;
  std::wstring runName = nv::fixed_path::file_name(held.path);
  runName.erase(runName.size() - std::char_traits<wchar_t>::length(kJournalExtension));
  const RunBounds bounds(replay.places, folder, runName);
  for (auto record = replay.records.rbegin(); record != replay.records.rend(); ++record) {
    if (run.finished && !IsScratch(record->kind)) continue;
    if (!bounds.admits(*record)) {
      run.refused.push_back(HeldPath(*record));
      continue;
    }
    ReachStep("recover.undo");
    switch (UndoRecord(*record)) {
      case UndoOutcome::done: ++run.undone; break;
      case UndoOutcome::held: run.held.push_back(HeldPath(*record)); break;
      // A link on the way or a state that cannot be read: never to be undone, and no reason to
      // keep the journal for it.
      case UndoOutcome::refused: run.refused.push_back(HeldPath(*record)); break;
    }
  }
  if (!run.held.empty()) {
    held.file.reset();  // kept, with what is left, for the next start
    return true;
  }
  ReachStep("recover.delete");
  FILE_DISPOSITION_INFO disposition{TRUE};
  ::SetFileInformationByHandle(held.file.get(), FileDispositionInfo, &disposition,
                               sizeof disposition);
  held.file.reset();
  // A finished run's changes stand; the backups it kept for them are of no use any more, nor
  // is anything else the run left beside its journal.
  DeleteRunFiles(folder, runName);
  return true;
}

}  // namespace

bool RecoveryResult::undidInstallation() const {
  return std::any_of(runs.begin(), runs.end(), [](const RecoveredRun& run) { return !run.finished; });
}

bool RecoveryResult::unfinished() const {
  return std::any_of(runs.begin(), runs.end(), [](const RecoveredRun& run) { return !run.held.empty(); });
}

std::wstring RecoveryResult::heldFile() const {
  for (const RecoveredRun& run : runs)
    if (!run.held.empty()) return run.held.front();
  return {};
}

RecoveryResult RecoverInterruptedRuns(const RecoveryObserver& observer) {
  RecoveryResult result;
  const std::wstring folder = JournalFolderPath();
  if (folder.empty()) return result;
  if (const std::error_code error = PrepareJournalFolder(folder, false)) {
    if (error.value() != ERROR_PATH_NOT_FOUND) result.error = error;
    return result;
  }

  std::vector<HeldJournal> held;
  for (const std::wstring& path : JournalFiles(folder)) {
    HeldJournal journal;
    switch (Hold(path, journal)) {
      case Opening::Held: held.push_back(std::move(journal)); break;
      case Opening::Alive: ++result.alive; break;
      case Opening::Refused: ++result.refused; break;
    }
  }
  // Newest first: a later run changed what an earlier one had left.
  std::sort(held.begin(), held.end(), [](const HeldJournal& a, const HeldJournal& b) {
    return ::CompareFileTime(&a.created, &b.created) > 0;
  });
  for (HeldJournal& journal : held) {
    RecoveredRun run;
    if (!Recover(journal, folder, run)) {
      ++result.refused;
      continue;
    }
    if (observer) observer(run);
    result.runs.push_back(std::move(run));
  }
  // A run interrupted after it made the folder and before its file existed left it empty.
  RemoveJournalFolder(folder);
  return result;
}

}  // namespace engine
