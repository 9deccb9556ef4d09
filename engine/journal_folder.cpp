#include "engine/journal_folder.h"

#include <windows.h>

#include <system_error>
#include <utility>

#include <boost/uuid/entropy_error.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include "engine/admin_folder.h"
#include "engine/machine_folders.h"
#include "nv/fixed_path.h"
#include "nv/known_folders.h"

namespace engine {
namespace {

std::wstring& replacement() {
  static std::wstring folder;
  return folder;
}

// <all-users application data>\Nuvelle\Journal; empty when the shell cannot name the folder.
std::wstring MachineJournalFolder() {
  try {
    return nv::fixed_path::append(nv::common_data_folder(), L"Journal");
  } catch (const std::system_error&) {
    return {};
  }
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
  if (const std::error_code error = refuse_links(folder)) return error;
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (!create) return {ERROR_PATH_NOT_FOUND, std::system_category()};
    const std::error_code error = CreateAdminFolder(folder);
    // Made meanwhile by another run: taken as any existing folder is.
    if (!error || error.value() != ERROR_ALREADY_EXISTS) return error;
  }
  return ProtectAdminFolder(folder);
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

void RemoveJournalFolder(const std::wstring& folder, const std::vector<std::wstring>& around) {
  if (!::RemoveDirectoryW(folder.c_str())) return;
  for (const std::wstring& outer : around) ::RemoveDirectoryW(outer.c_str());
}

}  // namespace engine
