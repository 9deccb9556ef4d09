#include "machine/temporary_folder.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include <boost/format.hpp>
#include <boost/uuid/entropy_error.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include "machine/admin_folder.h"
#include "machine/machine_folders.h"
#include "nv/fixed_path.h"
#include "nv/link_check.h"
#include "nv/system_failure.h"

namespace engine {

CTemporaryFolder* currentTemporaryFolder = nullptr;

namespace {

// Longest system temporary folder the installer works with.
constexpr DWORD kMaxTempFolderLength = 246;

std::wstring ErrorText(std::uint32_t code, const std::wstring& call) {
  return (boost::wformat(L"%08x (%s)") % code % call).str();
}

boost::uuids::uuid RandomUuid() { return boost::uuids::random_generator()(); }

bool IsLink(DWORD attributes) { return nv::is_link(nv::file_facts{attributes}); }

// Deletes a file of the folder, read-only or not; a link goes as a link, and whatever it points
// to keeps its attributes.
void DeleteWithoutFollowing(const std::wstring& file) {
  const DWORD attributes = ::GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  if (!IsLink(attributes) && (attributes & FILE_ATTRIBUTE_READONLY))
    ::SetFileAttributesW(file.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  ::DeleteFileW(file.c_str());
}

}  // namespace

void DeleteWorkingFiles(const std::wstring& folder, const std::vector<std::wstring>& files) {
  // A folder that has become a link since is removed as a link: the files behind it are not ours.
  if (IsLink(::GetFileAttributesW(folder.c_str()))) return;
  for (const std::wstring& file : files) DeleteWithoutFollowing(file);
}

bool MakeTemporaryFolderName(std::wstring& tempFolder, std::wstring& errorText) {
  return MakeTemporaryFolderName(tempFolder, errorText, RandomUuid);
}

bool MakeTemporaryFolderName(std::wstring& tempFolder, std::wstring& errorText,
                             UuidSource uuidSource) {
  wchar_t base[MAX_PATH] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH, base);
  if (length == 0 || length > kMaxTempFolderLength) {
    errorText = ErrorText(::GetLastError(), L"GetTempPath");
    return false;
  }

  std::wstring element = L"nuvelle_{";
  try {
    const std::string text = boost::uuids::to_string(uuidSource());
    element.append(text.begin(), text.end());
  } catch (const boost::uuids::entropy_error& error) {
    const std::string call = error.what();
    errorText = ErrorText(static_cast<std::uint32_t>(error.errcode()),
                          std::wstring(call.begin(), call.end()));
    return false;
  }
  element += L'}';

  // A composed path that does not fit in 259 characters is refused rather than cut, which would
  // name some other folder.
  const std::wstring composed = nv::fixed_path::append(base, element);
  if (composed.empty()) {
    errorText = ErrorText(ERROR_FILENAME_EXCED_RANGE, L"PathAppend");
    return false;
  }
  tempFolder = composed;
  return true;
}

CTemporaryFolder::CTemporaryFolder(const std::wstring& tempFolder) : path(tempFolder) {
  currentTemporaryFolder = this;
}

CTemporaryFolder::~CTemporaryFolder() {
  if (currentTemporaryFolder == this) currentTemporaryFolder = nullptr;
  held_.clear();
  if (refused_) return;
  DeleteWorkingFiles(path, files);
  files.clear();
  ::RemoveDirectoryW(path.c_str());
}

std::error_code CTemporaryFolder::Create() {
  const std::error_code error = CreateAdminFolder(path);
  if (error) refused_ = true;  // someone else's folder: left as it is
  return error;
}

void CTemporaryFolder::AddFile(const std::wstring& file) { files.push_back(file); }

std::error_code CTemporaryFolder::HoldFile(const std::wstring& file) {
  nv::unique_handle handle(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) return nv::last_system_failure();
  // A link put in the file's place is not what was written.
  const nv::file_facts facts = nv::facts_of(handle.get());
  if (facts.attributes == INVALID_FILE_ATTRIBUTES) return nv::last_system_failure();
  if (nv::is_link(facts)) return link_refused();
  held_.push_back(std::move(handle));
  return {};
}

}  // namespace engine
