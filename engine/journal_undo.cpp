#include "engine/journal_undo.h"

#include <windows.h>
#include <shlwapi.h>

#include <exception>
#include <string>

#include "engine/machine_folders.h"
#include "engine/product_registration.h"
#include "engine/registry_value_backup.h"
#include "engine/temporary_folder.h"
#include "nv/fixed_path.h"
#include "nv/privileges.h"
#include "nv/product.h"
#include "nv/unique_handle.h"

namespace engine {
namespace {

// CreatedFolder: only an empty folder goes; anything still inside keeps it.
bool UndoCreatedFolder(const JournalRecord& record) noexcept {
  ::RemoveDirectoryW(record.path.c_str());
  return true;
}

// True when `path` exists (as anything).
bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// InstalledFile and the three shortcut kinds: the new file goes and the backup (if any) is put
// back where it was taken from, with the attributes it had. A backup that is not there was never
// taken (the run stopped before) or has already been put back: then the file at `path` is the one
// from before and stays. So undoing a record twice does no harm.
bool UndoFileChange(const JournalRecord& record) noexcept {
  if (record.adopted) {
    // The run never changed the file: it stays, and only the courtesy copy goes.
    if (!record.backupPath.empty()) DeleteAnyFile(record.backupPath.c_str());
    return true;
  }
  if (!record.backupPath.empty() && !Exists(record.backupPath)) return true;
  // A link put on the way below a folder every user can write to: nothing is deleted or put back
  // through it.
  if (!record.path.empty() && refuse_links(record.path)) return true;
  if (!record.path.empty() && !DeleteAnyFile(record.path.c_str()) && Exists(record.path))
    return false;  // held: the backup waits beside the journal for the next attempt
  if (record.backupPath.empty()) return true;
  // A previous installation's link goes back to its own place, whatever the new link is called
  // and whether it was made at all.
  const std::wstring& target = record.backupSource.empty() ? record.path : record.backupSource;
  if (target.empty() || refuse_links(target)) return true;
  const DWORD attributes = ::GetFileAttributesW(record.backupPath.c_str());
  ::SetFileAttributesW(record.backupPath.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!::MoveFileExW(record.backupPath.c_str(), target.c_str(),
                     MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
    if (attributes != INVALID_FILE_ATTRIBUTES)
      ::SetFileAttributesW(record.backupPath.c_str(), attributes);
    return false;
  }
  if (attributes != INVALID_FILE_ATTRIBUTES) ::SetFileAttributesW(target.c_str(), attributes);
  return true;
}

// UninstallKey: the key that existed before is restored from its hive file, or the key this run
// created is deleted with everything under it.
bool UndoUninstallKey(const JournalRecord& record) noexcept {
  const std::wstring* productName = nullptr;
  try {
    productName = &nv::product_registry_name(nv::current_product());
  } catch (const std::exception&) {
    return true;  // no product set: there is no key of ours to touch
  }
  PrivilegeScope restore(L"SeRestorePrivilege");
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, KEY_ALL_ACCESS, &raw) !=
      ERROR_SUCCESS)
    return true;
  const nv::reg_key uninstall(raw);
  if (!record.backupPath.empty()) {
    HKEY product = nullptr;
    if (::RegOpenKeyExW(uninstall.get(), productName->c_str(), 0, KEY_ALL_ACCESS, &product) ==
        ERROR_SUCCESS) {
      const nv::reg_key productKey(product);
      ::RegRestoreKeyW(productKey.get(), record.backupPath.c_str(), 0);
    }
    DeleteAnyFile(record.backupPath.c_str());
  } else {
    ::SHDeleteKeyW(uninstall.get(), productName->c_str());
  }
  return true;
}

// ProductRegistration and DirectXUpdate: what the product or the DirectX setup did is not ours
// to undo.
bool UndoNothing(const JournalRecord&) noexcept { return true; }

// WorkingFolder: only an empty folder goes (its files are undone before it); a link in its place
// goes as a link.
bool UndoWorkingFolder(const JournalRecord& record) noexcept {
  ::RemoveDirectoryW(record.path.c_str());
  return true;
}

// TemporaryFile: deleted as the working folder deletes its files, never through a link.
bool UndoTemporaryFile(const JournalRecord& record) noexcept {
  try {
    DeleteWorkingFiles(nv::fixed_path::remove_file_spec(record.path), {record.path});
  } catch (const std::exception&) {
  }
  return true;
}

// ProductPathValue: the value (and the maker's key, when the run created it) as it was before.
bool UndoProductPathValue(const JournalRecord& record) noexcept {
  if (record.backupPath.empty()) return true;
  try {
    RestoreValueState(HKEY_LOCAL_MACHINE, makerKey, ProductPathValueName(), record.backupPath);
  } catch (const std::exception&) {
    return true;  // no product set: there is no value of ours to touch
  }
  DeleteAnyFile(record.backupPath.c_str());
  return true;
}

using UndoFunction = bool (*)(const JournalRecord&) noexcept;

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

bool UndoRecord(const JournalRecord& record) noexcept { return UndoOf(record.kind)(record); }

void DiscardBackup(JournalRecord& record) noexcept {
  if (record.backupPath.empty()) return;
  DeleteAnyFile(record.backupPath.c_str());
  record.backupPath.clear();
}

bool DeleteAnyFile(const wchar_t* path) noexcept {
  ::SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
  return ::DeleteFileW(path) != FALSE;
}

PrivilegeScope::PrivilegeScope(const wchar_t* name) noexcept
    : name_(name), enabled_(nv::set_privilege(name, true)) {}

PrivilegeScope::~PrivilegeScope() {
  if (enabled_) nv::set_privilege(name_, false);
}

}  // namespace engine
