// How each kind of journal record is undone by a rollback and how its backup is discarded by a
// commit. The journal walks its records; what a record's change means lives here, per kind.
#pragma once

#include "engine/install_journal.h"

namespace engine {

// Registry path, under HKEY_LOCAL_MACHINE, of the system's list of installed programs.
inline constexpr wchar_t kUninstallKeyPath[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Undoes the change `record` stands for, whatever its `done` flag; a rollback always goes on to
// the next record. False when a file that had to go or to be put back stays (another program
// holds it): undoing the record again later finishes the job, for undoing a record again, after
// an interruption or a failure of the first undo, gives the same result as undoing it once.
bool UndoRecord(const JournalRecord& record) noexcept;

// Deletes the backup of `record` (if any) and clears its `backupPath`.
void DiscardBackup(JournalRecord& record) noexcept;

// Resets the attributes of the file at `path` to normal and deletes it. False when it stays.
bool DeleteAnyFile(const wchar_t* path) noexcept;

// Holds a privilege of the process enabled for the life of the object; disables it again only
// when this object enabled it.
class PrivilegeScope {
 public:
  explicit PrivilegeScope(const wchar_t* name) noexcept;
  ~PrivilegeScope();
  PrivilegeScope(const PrivilegeScope&) = delete;
  PrivilegeScope& operator=(const PrivilegeScope&) = delete;

 private:
  const wchar_t* name_;
  bool enabled_;
};

}  // namespace engine
