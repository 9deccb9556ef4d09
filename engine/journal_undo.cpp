#include "engine/journal_undo.h"

#include <windows.h>
#include <shlwapi.h>

#include <exception>
#include <optional>
#include <string>

#include "engine/handle_removal.h"
#include "engine/machine_folders.h"
#include "engine/product_registration.h"
#include "engine/registry_key_backup.h"
#include "engine/registry_value_backup.h"
#include "engine/removal_places.h"
#include "engine/temporary_folder.h"
#include "nv/fixed_path.h"
#include "nv/privileges.h"
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

// Removes the empty folder `path` below `place`; true unless it stays for another reason than
// what it still holds.
bool RemoveFolderIfEmpty(const std::wstring& path, const std::wstring& place) {
  const RemovalResult result = RemoveThroughHandle(path, EntryKind::emptyFolder, place);
  return IsGone(result) || result.outcome == RemovalOutcome::notEmpty;
}

// CreatedFolder: only an empty folder goes; anything still inside keeps it.
bool UndoCreatedFolder(const JournalRecord& record, const RemovalPlaces* places) {
  const std::optional<std::wstring> place = PlaceFor(record, places);
  return place && RemoveFolderIfEmpty(record.path, *place);
}

// True when `path` exists (as anything).
bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// InstalledFile and the three shortcut kinds: the new file goes and the backup (if any) is put
// back where it was taken from, with the attributes it had. A backup that is not there was never
// taken (the run stopped before) or has already been put back: then the file at `path` is the one
// from before and stays. So undoing a record twice does no harm.
bool UndoFileChange(const JournalRecord& record, const RemovalPlaces* places) {
  if (record.adopted) {
    // The run never changed the file: it stays, and only the courtesy copy goes.
    if (!record.backupPath.empty()) DeleteAnyFile(record.backupPath.c_str());
    return true;
  }
  if (!record.backupPath.empty() && !Exists(record.backupPath)) return true;
  if (!record.path.empty()) {
    // A link put on the way below a folder every user can write to: nothing is deleted or put
    // back through it.
    if (refuse_links(record.path)) return false;
    const std::optional<std::wstring> place = PlaceFor(record, places);
    if (!place || !IsGone(RemoveThroughHandle(record.path, EntryKind::fileOrLink, *place)))
      return false;
  }
  if (record.backupPath.empty()) return true;
  // A previous installation's link goes back to its own place, whatever the new link is called
  // and whether it was made at all.
  const std::wstring& target = record.backupSource.empty() ? record.path : record.backupSource;
  if (target.empty() || refuse_links(target)) return false;
  const DWORD attributes = ::GetFileAttributesW(record.backupPath.c_str());
  ::SetFileAttributesW(record.backupPath.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!::MoveFileW(record.backupPath.c_str(), target.c_str())) return false;
  if (attributes != INVALID_FILE_ATTRIBUTES) ::SetFileAttributesW(target.c_str(), attributes);
  return true;
}

// UninstallKey: the key that existed before is put back from its saved state, or the key this
// run created is deleted with everything under it. A state file that is gone was never written
// (the key was not changed yet) or has been put back already; a damaged one changes nothing and
// goes, as a restored one does. One the registry refused stays, the only copy of the key.
bool UndoUninstallKey(const JournalRecord& record, const RemovalPlaces*) {
  const std::wstring* productName = nullptr;
  try {
    productName = &nv::product_registry_name(nv::current_product());
  } catch (const std::exception&) {
    return true;  // no product set: there is no key of ours to touch
  }
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, KEY_ALL_ACCESS, &raw) !=
      ERROR_SUCCESS)
    return true;
  const nv::reg_key uninstall(raw);
  if (record.backupPath.empty()) {
    const LSTATUS status = ::SHDeleteKeyW(uninstall.get(), productName->c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
  }
  const std::error_code error = RestoreKeyState(uninstall.get(), *productName, record.backupPath);
  if (error.value() == ERROR_FILE_NOT_FOUND) return true;
  if (!error || error.value() == ERROR_INVALID_DATA) DeleteAnyFile(record.backupPath.c_str());
  return !error;
}

// ProductRegistration and DirectXUpdate: what the product or the DirectX setup did is not ours
// to undo.
bool UndoNothing(const JournalRecord&, const RemovalPlaces*) { return true; }

// WorkingFolder: only an empty folder goes (its files are undone before it); a link in its place
// goes as a link. It lies in the temporary folder, no place of the installation's.
bool UndoWorkingFolder(const JournalRecord& record, const RemovalPlaces*) {
  return RemoveFolderIfEmpty(record.path, {});
}

// TemporaryFile: deleted as the working folder deletes its files, never through a link.
bool UndoTemporaryFile(const JournalRecord& record, const RemovalPlaces*) {
  DeleteWorkingFiles(nv::fixed_path::remove_file_spec(record.path), {record.path});
  return !Exists(record.path);
}

// ProductPathValue: the value (and the maker's key, when the run created it) as it was before.
bool UndoProductPathValue(const JournalRecord& record, const RemovalPlaces*) {
  // A state file that is gone has been put back already.
  if (record.backupPath.empty() || !Exists(record.backupPath)) return true;
  bool restored = false;
  try {
    restored =
        RestoreValueState(HKEY_LOCAL_MACHINE, makerKey, ProductPathValueName(), record.backupPath);
  } catch (const std::exception&) {
    return true;  // no product set: there is no value of ours to touch
  }
  DeleteAnyFile(record.backupPath.c_str());
  return restored;
}

using UndoFunction = bool (*)(const JournalRecord&, const RemovalPlaces*);

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
    default: return UndoNothing;
  }
}

}  // namespace

bool UndoRecord(const JournalRecord& record, const RemovalPlaces* places) noexcept {
  try {
    return UndoOf(record.kind)(record, places);
  } catch (const std::exception&) {
    return false;  // out of memory: the rollback goes on with the next record
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

PrivilegeScope::PrivilegeScope(const wchar_t* name) noexcept
    : name_(name), enabled_(nv::set_privilege(name, true)) {}

PrivilegeScope::~PrivilegeScope() {
  if (enabled_) nv::set_privilege(name_, false);
}

}  // namespace engine
