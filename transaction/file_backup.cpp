#include "transaction/file_backup.h"

#include <windows.h>

#include "transaction/journal_undo.h"
#include "nv/system_failure.h"
#include "nv/unique_handle.h"

namespace engine {
namespace {

// Longest system temporary folder in which GetTempFileNameW still has room for its 14-character
// "nvXXXX.tmp" name within 260 characters.
constexpr DWORD kMaxTempFolderLength = 246;

// Writes what is cached of the file `path` to disk: a copy that a recovery may need must be there
// before its original changes.
std::error_code FlushFile(const std::wstring& path) {
  const nv::unique_handle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file || !::FlushFileBuffers(file.get())) return nv::last_system_failure();
  return {};
}

// Copies `source` to the new file `name` and flushes the copy.
std::error_code FlushedCopy(const std::wstring& source, const std::wstring& name) {
  if (!::CopyFileW(source.c_str(), name.c_str(), TRUE)) return nv::last_system_failure();
  if (const std::error_code error = FlushFile(name)) {
    DeleteAnyFile(name.c_str());
    return error;
  }
  return {};
}

// Moves `source` to `name`, written through to disk; across volumes a flushed copy, after which
// the source is deleted.
std::error_code DurableMove(const std::wstring& source, const std::wstring& name) {
  if (::MoveFileExW(source.c_str(), name.c_str(), MOVEFILE_WRITE_THROUGH)) return {};
  if (::GetLastError() != ERROR_NOT_SAME_DEVICE) return nv::last_system_failure();
  if (const std::error_code error = FlushedCopy(source, name)) return error;
  if (!::DeleteFileW(source.c_str())) {
    const std::error_code error = nv::last_system_failure();
    DeleteAnyFile(name.c_str());
    return error;
  }
  return {};
}

}  // namespace

std::wstring ReserveBackupName(std::error_code& error) {
  wchar_t folder[MAX_PATH] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH, folder);
  if (length == 0) {
    error = nv::last_system_failure();
    return {};
  }
  if (length > kMaxTempFolderLength) {
    error = nv::system_failure(ERROR_FILENAME_EXCED_RANGE);
    return {};
  }
  wchar_t name[MAX_PATH] = {};
  if (!::GetTempFileNameW(folder, L"nv", 0, name)) {
    error = nv::last_system_failure();
    return {};
  }
  ::DeleteFileW(name);
  return name;
}

std::error_code TakeBackup(const std::wstring& source, const std::wstring& name, bool keepSource) {
  const DWORD attributes = ::GetFileAttributesW(source.c_str());
  const bool known = attributes != INVALID_FILE_ATTRIBUTES;
  ::SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL);
  const std::error_code error = keepSource ? FlushedCopy(source, name) : DurableMove(source, name);
  if (!error) {
    if (known) {
      if (keepSource) ::SetFileAttributesW(source.c_str(), attributes);
      ::SetFileAttributesW(name.c_str(), attributes);
    }
    return {};
  }
  if (known) ::SetFileAttributesW(source.c_str(), attributes);
  return error;
}

std::wstring MakeBackup(const wchar_t* source, bool keepSource, std::error_code* error) {
  std::error_code failure;
  std::wstring name = ReserveBackupName(failure);
  if (!name.empty() && source) failure = TakeBackup(source, name, keepSource);
  if (failure) {
    if (error) *error = failure;
    return {};
  }
  return name;
}

}  // namespace engine
