// How each kind of journal record is undone by a rollback and how its backup is discarded by a
// commit. The journal walks its records; what a record's change means lives here, per kind.
#pragma once

#include "transaction/install_journal.h"

namespace engine {

struct RemovalPlaces;

// Registry path, under HKEY_LOCAL_MACHINE, of the system's list of installed programs.
inline constexpr wchar_t kUninstallKeyPath[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// What undoing a record came to.
enum class UndoOutcome {
  done,     // the change is undone, or nothing was left to undo
  held,     // a file or folder that should go or come back stays (another program holds it):
            // undoing the record again later finishes the job
  refused,  // not undone and never to be: a link on the way, a path its places do not allow, a
            // saved state that cannot be read
};

// Undoes the change `record` stands for, whatever its `done` flag. A rollback always goes on to
// the next record. Undoing a record again, after an interruption or a failure of the first undo,
// gives the same result as undoing it once. Files and folders are deleted through a handle on the
// object itself (handle_removal.h): with `places`, only a path they allow and only while it lies
// below the place that allowed it; without, only while it lies exactly where its record names it.
UndoOutcome UndoRecord(const JournalRecord& record, const RemovalPlaces* places = nullptr) noexcept;

// Deletes the backup of `record` (if any) and clears its `backupPath`.
void DiscardBackup(JournalRecord& record) noexcept;

// Deletes the file or link at `path`, read-only or not, through a handle on it and only where
// `path` names it. False when it stays.
bool DeleteAnyFile(const wchar_t* path) noexcept;

}  // namespace engine
