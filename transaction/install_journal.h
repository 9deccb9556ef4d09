// The rollback journal of one installation: every change made to the machine, in order, with
// the backup of what it replaced, so that a failed run can be undone and a finished run can be
// written to the uninstall log. It also holds what the previous installation's log recorded.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace engine {

class CJournalFile;

// What a record changed. The values 0 to 7 are stored in the uninstall log (high byte of a line's
// code); the others only in a run's journal file, for changes that are no part of the
// installation but that an interrupted run must still have undone.
enum class RecordKind : std::int32_t {
  CreatedFolder = 0,
  InstalledFile = 1,
  MenuShortcut = 2,
  UninstallShortcut = 3,
  DesktopShortcut = 4,
  UninstallKey = 5,
  ProductRegistration = 6,
  DirectXUpdate = 7,
  WorkingFolder = 16,     // the run's working folder (path)
  TemporaryFile = 17,     // a file extracted into it (path)
  ProductPathValue = 18,  // the product path value; backupPath holds its state before the run
  PendingDeletions = 19,  // restart deletions the run dropped; backupPath lists them
};

struct JournalRecord {
  RecordKind kind = RecordKind::CreatedFolder;
  std::wstring path;        // folder, file or link; label text for DirectXUpdate; empty for 5 and 6
  // The backup: beside the run's journal file (journal_folder.h), or in the system temporary
  // folder for a journal without one; empty when there is none.
  std::wstring backupPath;
  bool done = false;
  std::int32_t payloadKind = -1;  // PayloadKind of an InstalledFile record, else -1
  // An InstalledFile record of a file that was already there and was left as it was: a rollback
  // never deletes it. The uninstall log records it like any installed file.
  bool adopted = false;
  // Where the backup was taken from when that is not `path`: the previous installation's link of
  // a shortcut record. A rollback puts the backup back there.
  std::wstring backupSource;
};

// The folders a run works in, written at the head of its journal file: an interrupted run's
// recovery changes nothing outside them and the machine's own places of the installation
// (removal_places.h).
struct RunPlaces {
  std::wstring installFolder;
  std::wstring menuFolder;
  std::wstring previousInstallFolder;  // the previous installation's, whose links it moves away
  std::wstring previousMenuFolder;
  std::wstring workingFolder;
};

// How much damage a reading of an uninstall log tolerates: the next installer keeps what it
// could read; the uninstaller acts only on a log read whole.
enum class LogReading { upToDamage, whole };

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
  // key's state to a file (registry_key_backup.h) so that a rollback can restore it.
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

  // The run's write-ahead journal file (journal_file.h) in the journal folder (journal_folder.h),
  // headed by the folders the run works in: from now on every record and mark is appended to it
  // and flushed before its change is made, and every backup is taken beside it. The error when
  // the folder cannot be made safe or the file cannot be created; nothing is then left changed.
  std::error_code OpenRunFile(const RunPlaces& places = {});
  // Ends the run file: deletes it, and the journal folder when that is empty, once the run has
  // been committed or completely rolled back; otherwise leaves it for the next start to recover.
  void CloseRunFile();
  // The path of the open run file; empty without one.
  std::wstring runFilePath() const;
  // Writes `record` ahead to the run file only: a change that is no part of the installation's
  // records (the working folder, a file extracted into it) but that an interrupted run must have
  // undone. Rollback undoes it in its place among the records. Nothing without a run file.
  std::error_code WriteAhead(JournalRecord record);
  // Names the file the open shortcut operation is about to create, ahead of its creation.
  void PlanPath(const std::wstring& path);
  // Before `path` is replaced outside the installation's records (the uninstall log rewritten):
  // writes it ahead and copies the file there to a backup. Nothing without a run file.
  std::error_code SecureFile(const std::wstring& path);
  // Before the uninstall key step: when the product's uninstall key does not exist yet, writes its
  // deletion ahead, for the key is created before BeginUninstallKey records it. Nothing without a
  // run file.
  std::error_code SecureUninstallKey();
  // Before the product path value is written: saves its state beside the run file and writes it
  // ahead. Nothing without a run file.
  std::error_code SecureProductPath();
  // Before anything is written: takes out of the restart's pending operations the deletions of
  // `places` and of anything below them (an uninstallation's files that were in use), listed
  // beside the run file first so that undoing the run schedules them again. Nothing without a
  // run file.
  std::error_code DropPendingDeletions(const std::vector<std::wstring>& places);

  // Merges the previous log's surviving records with this run's, writes the log at `logPath`
  // and commits. True when the file was created and every line written; otherwise the first
  // failure's system error goes to `error` when given.
  bool WriteUninstallLog(const std::wstring& logPath, const std::wstring& installFolder,
                         const std::wstring& menuFolder, std::error_code* error = nullptr);
  // Reads the previous installation's log into the previous* members; with null it only clears
  // the two previous folders. Up to damage: true when the file opened with the header of a
  // version-1 log (its records are then those up to the first damaged line). Whole: true only
  // when every line follows the log's grammar, the six header lines first and the last line
  // ended by its line feed; false for any damage. Its folders are kept as recorded, existing
  // or not.
  bool ReadUninstallLog(const wchar_t* path, LogReading reading = LogReading::upToDamage);

  CInstallJournal();
  ~CInstallJournal();
  CInstallJournal(CInstallJournal&&) noexcept;
  CInstallJournal& operator=(CInstallJournal&&) noexcept;

 private:
  // Appends a record of `kind` to `records` and writes it ahead; its number in the run file.
  std::optional<std::size_t> Append(RecordKind kind);
  // Writes `record` ahead to the run file: its number there, or nothing without a run file or
  // when it could not be written (the error is noted).
  std::optional<std::size_t> Ahead(const JournalRecord& record);
  // True when there is a run file but `number` says the record could not be written to it.
  bool Unrecorded(const std::optional<std::size_t>& number) const;
  // Writes `record` ahead, taking first a backup name for the file at its path when one exists,
  // then the backup itself (moved, or copied with `keepSource`). The error when the name, the
  // record or the backup could not be had; a record whose backup failed is withdrawn.
  std::error_code AheadWithBackup(JournalRecord& record, bool keepSource,
                                  std::optional<std::size_t>& number);
  // The name of a backup beside the run file with `extension`; empty without a run file.
  std::wstring BesideRunFile(const wchar_t* extension) const;
  // A name for the backup of a file: beside the run file, else a fresh "nv" name in the system
  // temporary folder. Empty on failure, with the error.
  std::wstring BackupName(std::error_code& error) const;
  // Notes a failure to write ahead; a later BeginFile reports it.
  void Note(const std::error_code& error);

  std::unique_ptr<CJournalFile> runFile_;
  std::error_code runFileError_;
  // The run file's number of the open operation's record; none without one.
  std::optional<std::size_t> operationRecord_;
  // The records written ahead only, each with the number of `records` written before it.
  std::vector<std::pair<std::size_t, JournalRecord>> aheadRecords_;
  bool runEnded_ = false;  // committed, or rolled back to the end
};

}  // namespace engine
