// Pieces shared by the journal, working-folder and recovery tests: a private folder with small
// file helpers, a redirection of the system temporary folder (TMP/TEMP) for one test, a private
// journal folder, and the journal a killed installer leaves behind.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "engine/install_journal.h"
#include "engine/journal_folder.h"
#include "engine/removal_places.h"
#include "nv/product_test_support.h"

namespace journal_test {

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

// While it lives, journals are written to and recovered from `<folder>\Journal`, where `folder`
// is a temporary folder of the test's own.
class private_journals {
 public:
  private_journals()
      : previous_(engine::SetJournalFolderPath((folder.path() / L"Journal").wstring())) {}
  ~private_journals() { engine::SetJournalFolderPath(previous_); }
  private_journals(const private_journals&) = delete;
  private_journals& operator=(const private_journals&) = delete;

  nv_test::temp_folder folder;

 private:
  std::wstring previous_;
};

// While it lives, the machine's places of an installation (removal_places.h) are `folders`.
class machine_places {
 public:
  explicit machine_places(engine::MachineFolders folders)
      : previous_(engine::ReplaceMachineFolders(std::move(folders))) {}
  ~machine_places() { engine::ReplaceMachineFolders(previous_); }
  machine_places(const machine_places&) = delete;
  machine_places& operator=(const machine_places&) = delete;

  // A machine whose all-users data and Start menu are `root`.
  static engine::MachineFolders below(const fs::path& root) {
    engine::MachineFolders folders;
    folders.commonAppData = root.wstring();
    folders.startMenus = {root.wstring()};
    return folders;
  }

 private:
  std::optional<engine::MachineFolders> previous_;
};

// Leaves what an installer killed halfway leaves: its journal, and the uninstall key `key`
// (below the scratch HKEY_LOCAL_MACHINE) that it had created, holding the stored language
// `language`, which whoever starts next must not take before the run is undone.
inline void abandon_run_that_created_key(const wchar_t* key, DWORD language) {
  engine::CInstallJournal killed;
  ASSERT_FALSE(killed.OpenRunFile());
  ASSERT_FALSE(killed.SecureUninstallKey());
  nv::reg_key written = nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE, key);
  killed.BeginUninstallKey(nullptr);
  nv_test::set_raw_value(written.get(), L"NvLanguage", REG_DWORD, &language, sizeof language);
  killed.EndOperation(true, nullptr);
}  // the journal object goes without Commit or Rollback, as with a killed process

}  // namespace journal_test
