#include "engine/journal_undo.h"

#include <windows.h>
#include <shlwapi.h>

#include <array>
#include <cstddef>
#include <exception>
#include <string>

#include "nv/privileges.h"
#include "nv/product.h"
#include "nv/unique_handle.h"

namespace engine {
namespace {

// CreatedFolder: only an empty folder goes; anything still inside keeps it.
void UndoCreatedFolder(const JournalRecord& record) noexcept {
  ::RemoveDirectoryW(record.path.c_str());
}

// InstalledFile and the three shortcut kinds: the new file goes and the backup (if any) is put
// back under the record's path with the attributes it had.
void UndoFileChange(const JournalRecord& record) noexcept {
  if (record.adopted) {
    // The run never changed the file: it stays, and only the courtesy copy goes.
    if (!record.backupPath.empty()) DeleteAnyFile(record.backupPath.c_str());
    return;
  }
  if (!record.path.empty()) DeleteAnyFile(record.path.c_str());
  // A shortcut record whose link was never created has no path: its backup cannot go back.
  if (record.backupPath.empty() || record.path.empty()) return;
  const DWORD attributes = ::GetFileAttributesW(record.backupPath.c_str());
  ::SetFileAttributesW(record.backupPath.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (::MoveFileW(record.backupPath.c_str(), record.path.c_str()) &&
      attributes != INVALID_FILE_ATTRIBUTES)
    ::SetFileAttributesW(record.path.c_str(), attributes);
}

// UninstallKey: the key that existed before is restored from its hive file, or the key this run
// created is deleted with everything under it.
void UndoUninstallKey(const JournalRecord& record) noexcept {
  const std::wstring* productName = nullptr;
  try {
    productName = &nv::product_registry_name(nv::current_product());
  } catch (const std::exception&) {
    return;  // no product set: there is no key of ours to touch
  }
  PrivilegeScope restore(L"SeRestorePrivilege");
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, KEY_ALL_ACCESS, &raw) !=
      ERROR_SUCCESS)
    return;
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
}

// ProductRegistration and DirectXUpdate: what the product or the DirectX setup did is not ours
// to undo.
void UndoNothing(const JournalRecord&) noexcept {}

using UndoFunction = void (*)(const JournalRecord&) noexcept;

// Indexed by the kind's value.
constexpr std::array<UndoFunction, 8> kUndoByKind = {
    UndoCreatedFolder,  // CreatedFolder
    UndoFileChange,     // InstalledFile
    UndoFileChange,     // MenuShortcut
    UndoFileChange,     // UninstallShortcut
    UndoFileChange,     // DesktopShortcut
    UndoUninstallKey,   // UninstallKey
    UndoNothing,        // ProductRegistration
    UndoNothing,        // DirectXUpdate
};

}  // namespace

void UndoRecord(const JournalRecord& record) noexcept {
  const auto index = static_cast<std::size_t>(record.kind);
  if (index < kUndoByKind.size()) kUndoByKind[index](record);
}

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
