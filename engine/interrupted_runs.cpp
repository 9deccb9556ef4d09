#include "engine/interrupted_runs.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "engine/admin_folder.h"
#include "engine/journal_file.h"
#include "engine/journal_folder.h"
#include "engine/journal_undo.h"
#include "engine/step_points.h"
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
  // Only a plain file that an administrator made says what an elevated start may undo.
  if (!nv::is_plain_file(nv::facts_of(held.file.get())) || !OwnedByAdministrator(held.file.get()))
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

// True when `folder` holds `inner`.
bool Holds(const std::wstring& folder, const std::wstring& inner) {
  return nv::is_below(folder, inner);
}

bool IsScratch(RecordKind kind) {
  return kind == RecordKind::WorkingFolder || kind == RecordKind::TemporaryFile;
}

// Undoes (or, for a run that committed, clears up after) the run of one held journal; false when
// the journal is not one to act on.
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
  std::vector<std::wstring> around;
  for (auto record = replay.records.rbegin(); record != replay.records.rend(); ++record) {
    if (run.finished && !IsScratch(record->kind)) continue;
    ReachStep("recover.undo");
    UndoRecord(*record);
    ++run.undone;
    if (record->kind == RecordKind::CreatedFolder && Holds(record->path, folder))
      around.push_back(record->path);
  }
  // A finished run's changes stand; the backups it kept for them are of no use any more.
  if (run.finished)
    for (JournalRecord& record : replay.records) DiscardBackup(record);
  ReachStep("recover.delete");
  FILE_DISPOSITION_INFO disposition{TRUE};
  ::SetFileInformationByHandle(held.file.get(), FileDispositionInfo, &disposition,
                               sizeof disposition);
  held.file.reset();
  RemoveJournalFolder(folder, around);
  return true;
}

}  // namespace

bool RecoveryResult::undidInstallation() const {
  return std::any_of(runs.begin(), runs.end(), [](const RecoveredRun& run) { return !run.finished; });
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
  RemoveJournalFolder(folder, {});
  return result;
}

}  // namespace engine
