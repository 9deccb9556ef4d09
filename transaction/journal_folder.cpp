#include "transaction/journal_folder.h"

#include <windows.h>
#include <shlobj.h>

#include <system_error>
#include <utility>
#include <vector>

#include <boost/uuid/entropy_error.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include "machine/admin_folder.h"
#include "machine/machine_folders.h"
#include "machine/write_trust.h"
#include "nv/fixed_path.h"
#include "nv/link_check.h"
#include "nv/system_failure.h"
#include "nv/unique_handle.h"

namespace engine {
namespace {

std::wstring& replacement() {
  static std::wstring folder;
  return folder;
}

// <Common Files>\Nuvelle Journal; empty when the system names no such folder.
std::wstring MachineJournalFolder() {
  const std::wstring common = system_folder(CSIDL_PROGRAM_FILES_COMMON);
  return common.empty() ? std::wstring() : nv::fixed_path::append(common, L"Nuvelle Journal");
}

enum class Standing { Missing, Trusted, Intruder };

// What stands at `folder`, judged through a handle that does not follow a link.
Standing Judge(const std::wstring& folder, std::error_code& error) {
  const nv::unique_handle object(::CreateFileW(
      folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!object) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return Standing::Missing;
    error = nv::system_failure(code);
    return Standing::Intruder;
  }
  const nv::file_facts facts = nv::facts_of(object.get());
  if (nv::is_link(facts) || !(facts.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = link_refused();
    return Standing::Intruder;
  }
  if (!OnlyTrustedMayChange(object.get(), WriteScope::Everything)) {
    error = untrusted_refused();
    return Standing::Intruder;
  }
  return Standing::Trusted;
}

// Renames whatever stands at `folder` (the link itself, not what it points to) to a fresh name
// beside it.
std::error_code MoveAside(const std::wstring& folder) {
  std::wstring name;
  if (const std::error_code error = NewRunName(name)) return error;
  const std::wstring aside = folder + L"." + name + L".untrusted";
  const nv::unique_handle object(::CreateFileW(
      folder.c_str(), DELETE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!object) return nv::last_system_failure();
  std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + aside.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(aside.size() * sizeof(wchar_t));
  aside.copy(rename->FileName, aside.size());
  if (!::SetFileInformationByHandle(object.get(), FileRenameInfo, rename,
                                    static_cast<DWORD>(buffer.size())))
    return nv::last_system_failure();
  return {};
}

}  // namespace

std::wstring JournalFolderPath() {
  if (!replacement().empty()) return replacement();
  static const std::wstring folder = MachineJournalFolder();
  return folder;
}

std::wstring SetJournalFolderPath(std::wstring folder) {
  return std::exchange(replacement(), std::move(folder));
}

std::error_code PrepareJournalFolder(const std::wstring& folder, bool create) {
  const std::wstring parent = nv::fixed_path::remove_file_spec(folder);
  if (parent.empty() || parent == folder) return nv::system_failure(ERROR_BAD_PATHNAME);
  if (const std::error_code error = CheckTrustedPath(parent)) return error;
  // A few rounds: a folder made by another run meanwhile is judged as any existing one.
  for (int round = 0; round < 3; ++round) {
    std::error_code refusal;
    switch (Judge(folder, refusal)) {
      case Standing::Trusted:
        return {};
      case Standing::Missing:
        if (!create) return nv::system_failure(ERROR_PATH_NOT_FOUND);
        if (const std::error_code error = CreateAdminFolder(folder);
            error && error.value() != ERROR_ALREADY_EXISTS)
          return error;
        break;
      case Standing::Intruder:
        // Only an administrator can have put it into a trusted folder; it is not ours all the
        // same, and refusing to install is no answer to it.
        if (!create) return refusal;
        if (const std::error_code error = MoveAside(folder)) return error;
        break;
    }
  }
  return untrusted_refused();
}

std::error_code NewRunName(std::wstring& name) {
  try {
    const std::string text = boost::uuids::to_string(boost::uuids::random_generator()());
    name = L"{" + std::wstring(text.begin(), text.end()) + L"}";
    return {};
  } catch (const boost::uuids::entropy_error& error) {
    return {static_cast<int>(error.errcode()), std::system_category()};
  }
}

void RemoveJournalFolder(const std::wstring& folder) { ::RemoveDirectoryW(folder.c_str()); }

}  // namespace engine
