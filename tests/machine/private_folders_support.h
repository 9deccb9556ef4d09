// Private folders for tests on real files: small file helpers, a redirection of the system
// temporary folder (TMP/TEMP) for one test, and a private folder whose "tmp" subfolder stands in
// for it.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>

#include "nv/product_test_support.h"

namespace file_test {

namespace fs = std::filesystem;

inline void write_text(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline DWORD attributes(const fs::path& path) { return ::GetFileAttributesW(path.c_str()); }

inline bool read_only(const fs::path& path) {
  return (attributes(path) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) ==
         FILE_ATTRIBUTE_READONLY;
}

// Sets TMP and TEMP to `folder` while it lives, so that GetTempPathW answers with it; the
// previous values come back afterwards.
class temp_path_override {
 public:
  explicit temp_path_override(const std::wstring& folder)
      : tmp_(get(L"TMP")), temp_(get(L"TEMP")) {
    ::SetEnvironmentVariableW(L"TMP", folder.c_str());
    ::SetEnvironmentVariableW(L"TEMP", folder.c_str());
  }
  ~temp_path_override() {
    ::SetEnvironmentVariableW(L"TMP", tmp_ ? tmp_->c_str() : nullptr);
    ::SetEnvironmentVariableW(L"TEMP", temp_ ? temp_->c_str() : nullptr);
  }
  temp_path_override(const temp_path_override&) = delete;
  temp_path_override& operator=(const temp_path_override&) = delete;

 private:
  static std::optional<std::wstring> get(const wchar_t* name) {
    const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring value(size, L'\0');
    value.resize(::GetEnvironmentVariableW(name, value.data(), size));
    return value;
  }
  std::optional<std::wstring> tmp_;
  std::optional<std::wstring> temp_;
};

// A private folder whose "tmp" subfolder stands in for the system temporary folder, so that
// every backup a test takes lands where the test can count it.
class private_folders {
 public:
  private_folders() {
    fs::create_directories(system_temp());
    override_.emplace(system_temp().wstring() + L"\\");
  }
  ~private_folders() {
    override_.reset();
    // Read-only files would block the folder's removal.
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(root_.path(), ignored))
      ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  const fs::path& root() const { return root_.path(); }
  fs::path system_temp() const { return root_.path() / L"tmp"; }
  // Files in the stand-in system temporary folder.
  size_t temp_file_count() const {
    size_t count = 0;
    for (const auto& entry : fs::directory_iterator(system_temp()))
      if (entry.is_regular_file()) ++count;
    return count;
  }

 private:
  nv_test::temp_folder root_;  // declared first: removed last
  std::optional<temp_path_override> override_;
};

}  // namespace file_test
