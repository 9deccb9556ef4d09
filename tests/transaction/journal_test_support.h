// Pieces shared by the journal and recovery tests: the private folders of
// machine/private_folders_support.h, a private journal folder, the machine's places replaced, and
// the journal a killed installer leaves behind.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "transaction/install_journal.h"
#include "transaction/journal_folder.h"
#include "transaction/removal_places.h"
#include "machine/private_folders_support.h"
#include "nv/product_test_support.h"

namespace journal_test {

namespace fs = std::filesystem;

using namespace file_test;

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
