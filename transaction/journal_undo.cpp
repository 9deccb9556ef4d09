#include "transaction/journal_undo.h"

#include <windows.h>
#include <shlwapi.h>

#include <exception>
#include <optional>
#include <string>

#include "machine/handle_removal.h"
#include "machine/machine_folders.h"
#include "machine/product_keys.h"
#include "transaction/registry_key_backup.h"
#include "transaction/pending_deletions.h"
#include "transaction/registry_value_backup.h"
#include "transaction/removal_places.h"
#include "machine/temporary_folder.h"
#include "nv/fixed_path.h"
#include "nv/product.h"
#include "nv/unique_handle.h"

namespace engine {
namespace {

// Where `record`'s path must lie for it to be deleted: with `places` the folder judgePath gives
// (nothing when the places refuse the path), without them where the record names it (empty).
std::optional<std::wstring> PlaceFor(const JournalRecord& record, const RemovalPlaces* places) {
  if (!places) return std::wstring();
  std::wstring place;
  if (judgePath(*places, record.kind, record.payloadKind, record.path, &place) !=
      PathVerdict::allowed)
    return std::nullopt;
  return place;
}

// What a removal through a handle came to, for an undo: a folder that still holds something
// stays as the undo wants it; an object found elsewhere than its place is refused.
UndoOutcome OutcomeOf(const RemovalResult& result) {
  switch (result.outcome) {
    case RemovalOutcome::removed:
    case RemovalOutcome::absent:
    case RemovalOutcome::notEmpty: return UndoOutcome::done;
    case RemovalOutcome::elsewhere: return UndoOutcome::refused;
    default: return UndoOutcome::held;
  }
}

// CreatedFolder: only an empty folder goes; anything still inside keeps it.
UndoOutcome UndoCreatedFolder(const JournalRecord& record, const RemovalPlaces* places) {
  const std::optional<std::wstring> place = PlaceFor(record, places);
  if (!place) return UndoOutcome::refused;
  return OutcomeOf(RemoveThroughHandle(record.path, EntryKind::emptyFolder, *place));
}

// True when `path` exists (as anything).
bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// InstalledFile and the three shortcut kinds: the new file goes and the backup (if any) is put
// back where it was taken from, with the attributes it had. A backup that is not there was never
// taken (the run stopped before) or has already been put back: then the file at `path` is the one
// from before and stays. So undoing a record twice does no harm.
UndoOutcome UndoFileChange(const JournalRecord& record, const RemovalPlaces* places) {
  if (record.adopted) {
    // The run never changed the file: it stays, and only the courtesy copy goes.
    if (!record.backupPath.empty()) DeleteAnyFile(record.backupPath.c_str());
    return UndoOutcome::done;
  }
  if (!record.backupPath.empty() && !Exists(record.backupPath)) return UndoOutcome::done;
  if (!record.path.empty()) {
    // A link put on the way below a folder every user can write to: nothing is deleted or put
    // back through it.
    if (refuse_links(record.path)) return UndoOutcome::refused;
    const std::optional<std::wstring> place = PlaceFor(record, places);
    if (!place) return UndoOutcome::refused;
    const UndoOutcome removal =
        OutcomeOf(RemoveThroughHandle(record.path, EntryKind::fileOrLink, *place));
    if (removal != UndoOutcome::done) return removal;  // held: the backup waits for the next try
  }
  if (record.backupPath.empty()) return UndoOutcome::done;
  // A previous installation's link goes back to its own place, whatever the new link is called
  // and whether it was made at all.
  const std::wstring& target = record.backupSource.empty() ? record.path : record.backupSource;
  if (target.empty() || refuse_links(target)) return UndoOutcome::refused;
  const DWORD attributes = ::GetFileAttributesW(record.backupPath.c_str());
  ::SetFileAttributesW(record.backupPath.c_str(), FILE_ATTRIBUTE_NORMAL);
  // The backup lies beside the journal, perhaps on another volume than its place.
  if (!::MoveFileExW(record.backupPath.c_str(), target.c_str(),
                     MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
    if (attributes != INVALID_FILE_ATTRIBUTES)
      ::SetFileAttributesW(record.backupPath.c_str(), attributes);
    return UndoOutcome::held;
  }
  if (attributes != INVALID_FILE_ATTRIBUTES) ::SetFileAttributesW(target.c_str(), attributes);
  return UndoOutcome::done;
}

// UninstallKey: the key that existed before is put back from its saved state, or the key this
// run created is deleted with everything under it. A state file that is gone was never written
// (the key was not changed yet) or has been put back already; a damaged one changes nothing and
// goes, as a restored one does. One the registry refused stays, the only copy of the key.
UndoOutcome UndoUninstallKey(const JournalRecord& record, const RemovalPlaces*) {
  const std::wstring* productName = nullptr;
  try {
    productName = &nv::product_registry_name(nv::current_product());
  } catch (const std::exception&) {
    return UndoOutcome::done;  // no product set: there is no key of ours to touch
  }
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, KEY_ALL_ACCESS, &raw) !=
      ERROR_SUCCESS)
    return UndoOutcome::done;
  const nv::reg_key uninstall(raw);
  if (record.backupPath.empty()) {
    const LSTATUS status = ::SHDeleteKeyW(uninstall.get(), productName->c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? UndoOutcome::done
                                                                     : UndoOutcome::held;
  }
  const std::error_code error = RestoreKeyState(uninstall.get(), *productName, record.backupPath);
  if (error.value() == ERROR_FILE_NOT_FOUND) return UndoOutcome::done;
  if (!error) {
    DeleteAnyFile(record.backupPath.c_str());
    return UndoOutcome::done;
  }
  if (error.value() == ERROR_INVALID_DATA) {
    DeleteAnyFile(record.backupPath.c_str());
    return UndoOutcome::refused;
  }
  return UndoOutcome::held;  // the registry refused: the state file stays, the only copy
}

// ProductRegistration and DirectXUpdate: what the product or the DirectX setup did is not ours
// to undo.
UndoOutcome UndoNothing(const JournalRecord&, const RemovalPlaces*) { return UndoOutcome::done; }

// WorkingFolder: only an empty folder goes (its files are undone before it); a link in its place
// goes as a link. It lies in the temporary folder, no place of the installation's.
UndoOutcome UndoWorkingFolder(const JournalRecord& record, const RemovalPlaces*) {
  return OutcomeOf(RemoveThroughHandle(record.path, EntryKind::emptyFolder, {}));
}

// TemporaryFile: deleted as the working folder deletes its files, never through a link.
UndoOutcome UndoTemporaryFile(const JournalRecord& record, const RemovalPlaces*) {
  DeleteWorkingFiles(nv::fixed_path::remove_file_spec(record.path), {record.path});
  return Exists(record.path) ? UndoOutcome::held : UndoOutcome::done;
}

// ProductPathValue: the value (and the maker's key, when the run created it) as it was before.
UndoOutcome UndoProductPathValue(const JournalRecord& record, const RemovalPlaces*) {
  // A state file that is gone has been put back already.
  if (record.backupPath.empty() || !Exists(record.backupPath)) return UndoOutcome::done;
  bool restored = false;
  try {
    restored =
        RestoreValueState(HKEY_LOCAL_MACHINE, makerKey, ProductPathValueName(), record.backupPath);
  } catch (const std::exception&) {
    return UndoOutcome::done;  // no product set: there is no value of ours to touch
  }
  DeleteAnyFile(record.backupPath.c_str());
  return restored ? UndoOutcome::done : UndoOutcome::refused;
}

// PendingDeletions: the restart's deletions the run took out, scheduled again.
UndoOutcome UndoPendingDeletions(const JournalRecord& record, const RemovalPlaces*) {
  // A list that is gone has been scheduled again already.
  if (record.backupPath.empty() || !Exists(record.backupPath)) return UndoOutcome::done;
  const std::optional<std::vector<PendingOperation>> dropped =
      LoadPendingOperations(record.backupPath);
  if (!dropped) return UndoOutcome::refused;
  if (RestorePendingOperations(*dropped)) return UndoOutcome::held;
  DeleteAnyFile(record.backupPath.c_str());
  return UndoOutcome::done;
}

using UndoFunction = UndoOutcome (*)(const JournalRecord&, const RemovalPlaces*);

UndoFunction UndoOf(RecordKind kind) {
  switch (kind) {
    case RecordKind::CreatedFolder: return UndoCreatedFolder;
    case RecordKind::InstalledFile:
    case RecordKind::MenuShortcut:
    case RecordKind::UninstallShortcut:
    case RecordKind::DesktopShortcut: return UndoFileChange;
    case RecordKind::UninstallKey: return UndoUninstallKey;
    case RecordKind::WorkingFolder: return UndoWorkingFolder;
    case RecordKind::TemporaryFile: return UndoTemporaryFile;
    case RecordKind::ProductPathValue: return UndoProductPathValue;
    case RecordKind::PendingDeletions: return UndoPendingDeletions;
    default: return UndoNothing;
  }
}

}  // namespace

UndoOutcome UndoRecord(const JournalRecord& record, const RemovalPlaces* places) noexcept {
  try {
    return UndoOf(record.kind)(record, places);
  } catch (const std::exception&) {
    return UndoOutcome::held;  // out of memory: the rollback goes on; a later one tries again
  }
}

void DiscardBackup(JournalRecord& record) noexcept {
  if (record.backupPath.empty()) return;
  DeleteAnyFile(record.backupPath.c_str());
  record.backupPath.clear();
}

bool DeleteAnyFile(const wchar_t* path) noexcept {
  try {
    return IsGone(RemoveThroughHandle(path, EntryKind::fileOrLink, {}));
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace engine
