#include "engine/install_journal.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <string>

#include "engine/journal_undo.h"
#include "engine/machine_folders.h"
#include "nv/fixed_path.h"

namespace engine {
namespace {

// Longest system temporary folder in which GetTempFileNameW still has room for its 14-character
// "nvXXXX.tmp" name within 260 characters.
constexpr DWORD kMaxTempFolderLength = 246;

RecordKind ShortcutKind(int which) {
  switch (which) {
    case 0: return RecordKind::MenuShortcut;
    case 1: return RecordKind::UninstallShortcut;
    default: return RecordKind::DesktopShortcut;
  }
}

bool IsExistingFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// True when `path` names a shell link file: its extension is ".lnk" in any letter case.
bool IsShortcutFile(const std::wstring& path) {
  const wchar_t* extension = ::PathFindExtensionW(path.c_str());
  return ::CompareStringOrdinal(extension, -1, L".lnk", -1, TRUE) == CSTR_EQUAL;
}

JournalRecord& Append(std::vector<JournalRecord>& records, RecordKind kind) {
  JournalRecord& record = records.emplace_back();
  record.kind = kind;
  return record;
}

}  // namespace

std::error_code CInstallJournal::BeginFile(const std::wstring& path, std::int32_t payloadKind,
                                           bool keepSource) {
  const size_t separator = path.find_last_of(L"\\/");
  if (separator != std::wstring::npos) EnsureFolders(path.substr(0, separator));
  std::wstring backup;
  if (IsExistingFile(path)) {
    // Overwriting a file that could not be secured would make a rollback lose it.
    std::error_code error;
    backup = MakeBackup(path.c_str(), keepSource, &error);
    if (backup.empty()) return error;
  }
  operationOpen = true;
  JournalRecord& record = Append(records, RecordKind::InstalledFile);
  record.path = path;
  record.payloadKind = payloadKind;
  record.backupPath = std::move(backup);
  return {};
}

void CInstallJournal::AdoptFile(const std::wstring& path, std::int32_t payloadKind) {
  JournalRecord& record = Append(records, RecordKind::InstalledFile);
  record.path = path;
  record.payloadKind = payloadKind;
  record.adopted = true;
  record.done = true;
  // The copy is a courtesy: the file is never changed, so nothing depends on it.
  record.backupPath = MakeBackup(path.c_str(), true);
}

void CInstallJournal::BeginShortcut(int which, const std::wstring& folder) {
  operationOpen = true;
  EnsureFolders(folder);
  const RecordKind kind = ShortcutKind(which);
  JournalRecord& record = Append(records, kind);
  const auto previous = std::find_if(previousRecords.begin(), previousRecords.end(),
                                     [kind](const JournalRecord& r) { return r.kind == kind; });
  if (previous == previousRecords.end()) return;
  // The previous log is a file on disk: a record naming anything but a link is not taken away.
  if (IsShortcutFile(previous->path) && IsExistingFile(previous->path) &&
      !refuse_links(previous->path))
    record.backupPath = MakeBackup(previous->path.c_str(), false);
}

void CInstallJournal::BeginUninstallKey(HKEY existingKey) {
  operationOpen = true;
  JournalRecord& record = Append(records, RecordKind::UninstallKey);
  if (!existingKey) return;
  record.backupPath = MakeBackup(nullptr, false);
  if (record.backupPath.empty()) return;
  LSTATUS status;
  {
    PrivilegeScope backup(L"SeBackupPrivilege");
    status = ::RegSaveKeyW(existingKey, record.backupPath.c_str(), nullptr);
  }
  if (status != ERROR_SUCCESS) DiscardBackup(record);
}

void CInstallJournal::BeginProductRegistration() {
  operationOpen = true;
  Append(records, RecordKind::ProductRegistration);
}

void CInstallJournal::BeginDirectXUpdate() {
  operationOpen = true;
  Append(records, RecordKind::DirectXUpdate);
}

void CInstallJournal::EndOperation(bool outcome, const wchar_t* path) {
  if (!operationOpen || records.empty()) return;
  operationOpen = false;
  JournalRecord& record = records.back();
  record.done = outcome;
  if (path) record.path = path;
}

void CInstallJournal::EnsureFolders(const std::wstring& folderPath) {
  // A path the fixed buffer would cut names some other folder: create nothing and let the
  // following write fail in its own step.
  if (folderPath.empty() || folderPath.size() > nv::fixed_path::max_length) return;
  wchar_t buffer[MAX_PATH] = {};
  folderPath.copy(buffer, folderPath.size());
  // The first element (the drive or share) is never created.
  const wchar_t* element = ::PathFindNextComponentW(buffer);
  while (element && *element) {
    const wchar_t* next = ::PathFindNextComponentW(element);
    if (!next) break;
    std::wstring candidate(buffer, static_cast<size_t>(next - buffer));
    while (!candidate.empty() && (candidate.back() == L'\\' || candidate.back() == L'/'))
      candidate.pop_back();
    element = next;
    if (::PathIsDirectoryW(candidate.c_str()) != FALSE) continue;
    if (!::CreateDirectoryW(candidate.c_str(), nullptr)) return;
    ::SHChangeNotify(SHCNE_MKDIR, SHCNF_PATHW, candidate.c_str(), nullptr);
    JournalRecord& record = Append(records, RecordKind::CreatedFolder);
    record.path = std::move(candidate);
    record.done = true;
  }
}

bool CInstallJournal::WasInstalledBefore(const std::wstring& path) const {
  return std::any_of(previousRecords.begin(), previousRecords.end(), [&](const JournalRecord& r) {
    return r.kind == RecordKind::InstalledFile && r.done && r.path == path;
  });
}

void CInstallJournal::Rollback() {
  for (auto record = records.rbegin(); record != records.rend(); ++record) UndoRecord(*record);
  records.clear();
  operationOpen = false;
}

void CInstallJournal::Commit() {
  for (JournalRecord& record : records) DiscardBackup(record);
}

std::wstring MakeBackup(const wchar_t* source, bool keepSource, std::error_code* error) {
  // Records the system error of the call that just failed.
  const auto fail = [error](DWORD code) {
    // A call that failed without saying why still fails.
    if (code == ERROR_SUCCESS) code = ERROR_GEN_FAILURE;
    if (error) *error = std::error_code(static_cast<int>(code), std::system_category());
    return std::wstring();
  };
  wchar_t folder[MAX_PATH] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH, folder);
  if (length == 0) return fail(::GetLastError());
  if (length > kMaxTempFolderLength) return fail(ERROR_FILENAME_EXCED_RANGE);
  wchar_t name[MAX_PATH] = {};
  if (!::GetTempFileNameW(folder, L"nv", 0, name)) return fail(::GetLastError());
  ::DeleteFileW(name);
  if (!source) return name;

  const DWORD attributes = ::GetFileAttributesW(source);
  const bool known = attributes != INVALID_FILE_ATTRIBUTES;
  ::SetFileAttributesW(source, FILE_ATTRIBUTE_NORMAL);
  if (keepSource) {
    if (::CopyFileW(source, name, FALSE)) {
      if (known) {
        ::SetFileAttributesW(source, attributes);
        ::SetFileAttributesW(name, attributes);
      }
      return name;
    }
  } else if (::MoveFileW(source, name)) {
    if (known) ::SetFileAttributesW(name, attributes);
    return name;
  }
  const DWORD code = ::GetLastError();
  if (known) ::SetFileAttributesW(source, attributes);
  return fail(code);
}

}  // namespace engine
