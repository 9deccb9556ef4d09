// The rollback journal of one installation: every change made to the machine, in order, with
// the backup of what it replaced, so that a failed run can be undone and a finished run can be
// written to the uninstall log. It also holds what the previous installation's log recorded.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace engine {

// What a record changed. The values are stored in the uninstall log (high byte of a line's code).
enum class RecordKind : std::int32_t {
  CreatedFolder = 0,
  InstalledFile = 1,
  MenuShortcut = 2,
  UninstallShortcut = 3,
  DesktopShortcut = 4,
  UninstallKey = 5,
  ProductRegistration = 6,
  DirectXUpdate = 7,
};

struct JournalRecord {
  RecordKind kind = RecordKind::CreatedFolder;
  std::wstring path;        // folder, file or link; label text for DirectXUpdate; empty for 5 and 6
  std::wstring backupPath;  // backup in the system temporary folder; empty when there is none
  bool done = false;
  std::int32_t payloadKind = -1;  // PayloadKind of an InstalledFile record, else -1
  // An InstalledFile record of a file that was already there and was left as it was: a rollback
  // never deletes it. Kept in memory only; the uninstall log records it like any installed file.
  bool adopted = false;
};

class CInstallJournal {
 public:
  std::wstring previousInstallFolder;
  std::wstring previousMenuFolder;
  std::vector<JournalRecord> previousRecords;
  std::vector<JournalRecord> records;
  bool operationOpen = false;
  std::wstring previousLabel;

  // Opens a file operation: creates the file's missing folders, appends an InstalledFile record
  // and backs up a file already at `path` (moved away, or copied when `keepSource`). When that
  // file cannot be backed up, returns the backup's system error and opens nothing: no record is
  // left that a rollback would take as the file's, so the file stays as it is.
  std::error_code BeginFile(const std::wstring& path, std::int32_t payloadKind, bool keepSource);
  // Records the file already at `path` as installed by this run without changing it: a copy is
  // taken when one can be, the record is done at once, and a rollback leaves the file in place.
  void AdoptFile(const std::wstring& path, std::int32_t payloadKind);
  // Opens a shortcut operation (`which` 0 menu program, 1 menu uninstall, other desktop) for a
  // link in `folder`; moves the previous installation's link of the same kind to a backup.
  void BeginShortcut(int which, const std::wstring& folder);
  // Opens the uninstall-key operation; with the key that existed before (else null) it saves the
  // key to a hive file so that a rollback can restore it.
  void BeginUninstallKey(HKEY existingKey);
  void BeginProductRegistration();
  void BeginDirectXUpdate();
  // Completes the open operation (if any): sets its `done` and, when `path` is given, its path.
  void EndOperation(bool outcome, const wchar_t* path);
  // Creates every missing folder of `folderPath`, outermost first, one CreatedFolder record each.
  void EnsureFolders(const std::wstring& folderPath);
  // True when the previous log holds a done InstalledFile record for exactly this path.
  bool WasInstalledBefore(const std::wstring& path) const;
  // Undoes every record of this run, newest first, whatever its outcome; `records` ends empty.
  void Rollback();
  // Deletes every backup of this run; nothing can be undone afterwards.
  void Commit();

  // Merges the previous log's surviving records with this run's, writes the log at `logPath`
  // and commits. True when the file was created and every line written.
  bool WriteUninstallLog(const std::wstring& logPath, const std::wstring& installFolder,
                         const std::wstring& menuFolder);
  // Reads the previous installation's log into the previous* members; with null it only clears
  // the two previous folders. True when the file opened with the header of a version-1 log (its
  // records are then those up to the first damaged line).
  bool ReadUninstallLog(const wchar_t* path);
};

// Moves (or copies, with `keepSource`) `source` to a fresh "nv" file in the system temporary
// folder and returns that file's path; with null it only reserves the name. Empty on failure,
// with the failing call's system error in `error` when given.
std::wstring MakeBackup(const wchar_t* source, bool keepSource, std::error_code* error = nullptr);

}  // namespace engine
