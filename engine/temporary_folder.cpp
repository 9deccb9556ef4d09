#include "engine/temporary_folder.h"

#include <windows.h>

#include <cstdint>
#include <string>

#include <boost/format.hpp>
#include <boost/uuid/entropy_error.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include "engine/journal_undo.h"
#include "nv/fixed_path.h"

namespace engine {

CTemporaryFolder* currentTemporaryFolder = nullptr;

namespace {

// Longest system temporary folder the installer works with.
constexpr DWORD kMaxTempFolderLength = 246;

std::wstring ErrorText(std::uint32_t code, const std::wstring& call) {
  return (boost::wformat(L"%08x (%s)") % code % call).str();
}

boost::uuids::uuid RandomUuid() { return boost::uuids::random_generator()(); }

}  // namespace

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
  for (const std::wstring& file : files) DeleteAnyFile(file.c_str());
  files.clear();
  ::RemoveDirectoryW(path.c_str());
}

void CTemporaryFolder::AddFile(const std::wstring& file) { files.push_back(file); }

}  // namespace engine
