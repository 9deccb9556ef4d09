#include "tools/payload/pending_file.h"

#include <windows.h>

#include <stdexcept>
#include <string>

#include "nv/unique_handle.h"

namespace payload_tool {
namespace {

std::string windows_error(const std::string& what, DWORD error = ::GetLastError()) {
  return what + " (error " + std::to_string(error) + ")";
}

}  // namespace

pending_file::pending_file(const std::filesystem::path& folder, const wchar_t* prefix) {
  wchar_t name[MAX_PATH];
  if (!::GetTempFileNameW(folder.c_str(), prefix, 0, name))
    throw std::runtime_error(windows_error("cannot create a file in " + folder.string()));
  path_ = name;
}

pending_file::~pending_file() {
  if (!path_.empty()) ::DeleteFileW(path_.c_str());
}

void pending_file::write(std::string_view bytes) {
  const nv::unique_handle file(::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr,
                                             TRUNCATE_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                             nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file || !::GetFileInformationByHandle(file.get(), &info))
    throw std::runtime_error(windows_error("cannot write " + path_.string()));
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
    throw std::runtime_error(path_.string() + " was replaced by a link: nothing written");
  DWORD written = 0;
  if (!::WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) ||
      written != bytes.size())
    throw std::runtime_error(windows_error("cannot write " + path_.string()));
}

void pending_file::commit(const std::filesystem::path& target) {
  rename(target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

void pending_file::commit_new(const std::filesystem::path& target) {
  rename(target, MOVEFILE_WRITE_THROUGH);
}

void pending_file::rename(const std::filesystem::path& target, unsigned long flags) {
  if (!::MoveFileExW(path_.c_str(), target.c_str(), flags))
    throw std::runtime_error(windows_error("cannot write " + target.string()));
  path_.clear();
}

}  // namespace payload_tool
