#include "engine/install_journal.h"

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "engine/journal_undo.h"
#include "journal_test_support.h"
#include "nv/product.h"
#include "wine.h"

namespace {

using engine::CInstallJournal;
using engine::JournalRecord;
using engine::RecordKind;
using journal_test::attributes;
using journal_test::read_only;
using journal_test::read_text;
using journal_test::write_text;
namespace fs = std::filesystem;

JournalRecord previous(RecordKind kind, const fs::path& path, bool done = true) {
  JournalRecord record;
  record.kind = kind;
  record.path = path.wstring();
  record.done = done;
  return record;
}

class Journal : public ::testing::Test {
 protected:
  journal_test::private_folders folders_;
  fs::path root_ = folders_.root();
  CInstallJournal journal_;
};

TEST_F(Journal, NestedFoldersAreCreatedOutermostFirstAndRemovedInnermostFirst) {
  const fs::path file = root_ / L"New" / L"Sub" / L"file.txt";
  journal_.BeginFile(file.wstring(), 1, false);
  ASSERT_EQ(journal_.records.size(), 3u);
  EXPECT_EQ(journal_.records[0].kind, RecordKind::CreatedFolder);
  EXPECT_EQ(journal_.records[0].path, (root_ / L"New").wstring());
  EXPECT_EQ(journal_.records[1].path, (root_ / L"New" / L"Sub").wstring());
  for (int i : {0, 1}) {
    EXPECT_TRUE(journal_.records[i].done);
    EXPECT_EQ(journal_.records[i].payloadKind, -1);
  }
  EXPECT_EQ(journal_.records[2].kind, RecordKind::InstalledFile);
  EXPECT_EQ(journal_.records[2].path, file.wstring());
  EXPECT_EQ(journal_.records[2].payloadKind, 1);
  EXPECT_FALSE(journal_.records[2].done);
  EXPECT_TRUE(journal_.records[2].backupPath.empty());
  EXPECT_TRUE(journal_.operationOpen);
  EXPECT_TRUE(fs::is_directory(root_ / L"New" / L"Sub"));
  write_text(file, "new");

  // The operation's own record is completed, not the folders appended before it; a second end
  // without a new operation changes nothing.
  journal_.EndOperation(true, nullptr);
  EXPECT_FALSE(journal_.operationOpen);
  EXPECT_TRUE(journal_.records[2].done);
  journal_.EndOperation(false, L"C:\\other");
  EXPECT_TRUE(journal_.records[2].done);
  EXPECT_EQ(journal_.records[2].path, file.wstring());

  // A second file in an existing folder appends no folder record.
  journal_.BeginFile((root_ / L"New" / L"second.txt").wstring(), 0, false);
  EXPECT_EQ(journal_.records.size(), 4u);
  write_text(root_ / L"New" / L"second.txt", "2");
  journal_.EndOperation(false, nullptr);
  EXPECT_FALSE(journal_.records[3].done);

  journal_.Rollback();
  EXPECT_TRUE(journal_.records.empty());
  EXPECT_FALSE(fs::exists(root_ / L"New"));
  EXPECT_TRUE(fs::is_directory(root_));
}

TEST_F(Journal, FolderWithForeignContentSurvivesRollback) {
  journal_.EnsureFolders((root_ / L"A" / L"B").wstring());
  ASSERT_EQ(journal_.records.size(), 2u);
  EXPECT_FALSE(journal_.operationOpen);
  write_text(root_ / L"A" / L"foreign.txt", "x");
  journal_.Rollback();
  EXPECT_FALSE(fs::exists(root_ / L"A" / L"B"));
  EXPECT_TRUE(fs::exists(root_ / L"A" / L"foreign.txt"));
}

TEST_F(Journal, FolderCreationStopsAtTheFirstFailure) {
  write_text(root_ / L"file", "x");
  journal_.EnsureFolders((root_ / L"file" / L"Sub" / L"Deeper").wstring());
  EXPECT_TRUE(journal_.records.empty());
  EXPECT_FALSE(fs::exists(root_ / L"file" / L"Sub"));

  // A folder path the 260-character buffer would cut creates nothing at all (a cut path would
  // name a different, truncated folder).
  const std::wstring deep = (root_ / std::wstring(300 - root_.wstring().size(), L'd')).wstring();
  journal_.EnsureFolders(deep);
  EXPECT_TRUE(journal_.records.empty());
  EXPECT_TRUE(fs::is_empty(root_ / L"tmp"));
  size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(root_)) entries += entry.is_directory();
  EXPECT_EQ(entries, 1u);  // only the stand-in temporary folder
}

TEST_F(Journal, ReadOnlyFileIsMovedToBackupAndRestoredWithItsAttribute) {
  const fs::path file = root_ / L"program.exe";
  write_text(file, "old");
  ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));

  journal_.BeginFile(file.wstring(), 1, false);
  ASSERT_EQ(journal_.records.size(), 1u);
  const fs::path backup = journal_.records[0].backupPath;
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(backup.parent_path(), folders_.system_temp());
  EXPECT_EQ(backup.filename().wstring().substr(0, 2), L"nv");
  EXPECT_EQ(read_text(backup), "old");
  EXPECT_TRUE(read_only(backup));

  // The new file is made read-only as the install sequence does with its executables.
  write_text(file, "new");
  ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
  journal_.EndOperation(true, nullptr);
  journal_.Rollback();
  EXPECT_EQ(read_text(file), "old");
  EXPECT_TRUE(read_only(file));
  EXPECT_FALSE(fs::exists(backup));

  // Nothing is left to commit after a rollback.
  journal_.Commit();
  EXPECT_TRUE(journal_.records.empty());
  EXPECT_EQ(read_text(file), "old");
  EXPECT_EQ(folders_.temp_file_count(), 0u);
}

TEST_F(Journal, KeepSourceCopiesAndCommitDeletesTheCopy) {
  const fs::path file = root_ / L"shared.dat";
  write_text(file, "shared");
  ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  const DWORD original = attributes(file);

  journal_.BeginFile(file.wstring(), 3, true);
  journal_.EndOperation(true, nullptr);
  const fs::path backup = journal_.records.at(0).backupPath;
  ASSERT_FALSE(backup.empty());
  EXPECT_EQ(read_text(file), "shared");
  EXPECT_EQ(read_text(backup), "shared");
  EXPECT_EQ(attributes(file), original);
  EXPECT_EQ(attributes(backup), original);

  journal_.Commit();
  ASSERT_EQ(journal_.records.size(), 1u);
  EXPECT_TRUE(journal_.records[0].backupPath.empty());
  EXPECT_TRUE(journal_.records[0].done);
  EXPECT_FALSE(fs::exists(backup));
  EXPECT_EQ(read_text(file), "shared");
  EXPECT_EQ(folders_.temp_file_count(), 0u);
}

TEST_F(Journal, MakeBackupNeedsAShortEnoughTemporaryFolder) {
  const fs::path file = root_ / L"source.txt";
  write_text(file, "source");
  ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));

  const fs::path reserved = engine::MakeBackup(nullptr, false);
  EXPECT_EQ(reserved.parent_path(), folders_.system_temp());
  EXPECT_FALSE(fs::exists(reserved));

  // 247 characters with the trailing separator: one more than a backup folder may have.
  const std::wstring base = folders_.system_temp().wstring() + L"\\";
  const std::wstring deep = base + std::wstring(246 - base.size(), L'x') + L"\\";
  ASSERT_EQ(deep.size(), 247u);
  fs::create_directories(deep);
  {
    journal_test::temp_path_override too_long(deep);
    EXPECT_EQ(engine::MakeBackup(file.c_str(), false), L"");
    EXPECT_EQ(engine::MakeBackup(nullptr, false), L"");
  }
  EXPECT_EQ(read_text(file), "source");
  EXPECT_TRUE(read_only(file));
  EXPECT_TRUE(fs::is_empty(deep));

  // A source that cannot be moved keeps its attributes.
  const fs::path missing = root_ / L"missing.txt";
  EXPECT_EQ(engine::MakeBackup(missing.c_str(), true), L"");
  EXPECT_EQ(engine::MakeBackup(missing.c_str(), false), L"");
}

TEST_F(Journal, WasInstalledBeforeNeedsADoneFileRecordWithTheExactPath) {
  journal_.previousRecords = {previous(RecordKind::InstalledFile, L"C:\\Data\\Shared.dat"),
                              previous(RecordKind::InstalledFile, L"C:\\Data\\Failed.dat", false),
                              previous(RecordKind::MenuShortcut, L"C:\\Data\\Link.lnk")};
  EXPECT_TRUE(journal_.WasInstalledBefore(L"C:\\Data\\Shared.dat"));
  EXPECT_FALSE(journal_.WasInstalledBefore(L"C:\\data\\shared.dat"));
  EXPECT_FALSE(journal_.WasInstalledBefore(L"C:\\Data\\Shared.dat "));
  EXPECT_FALSE(journal_.WasInstalledBefore(L"C:\\Data\\Failed.dat"));
  EXPECT_FALSE(journal_.WasInstalledBefore(L"C:\\Data\\Link.lnk"));
}

TEST_F(Journal, EndOperationWithoutOpenOperationIsIgnored) {
  journal_.EnsureFolders((root_ / L"Only").wstring());
  journal_.EndOperation(false, L"C:\\elsewhere");
  ASSERT_EQ(journal_.records.size(), 1u);
  EXPECT_TRUE(journal_.records[0].done);
  EXPECT_EQ(journal_.records[0].path, (root_ / L"Only").wstring());

  journal_.BeginProductRegistration();
  journal_.EndOperation(true, nullptr);
  journal_.BeginDirectXUpdate();
  journal_.EndOperation(false, L"Updating DirectX...");
  ASSERT_EQ(journal_.records.size(), 3u);
  EXPECT_EQ(journal_.records[1].kind, RecordKind::ProductRegistration);
  EXPECT_TRUE(journal_.records[1].done);
  EXPECT_TRUE(journal_.records[1].path.empty());
  EXPECT_EQ(journal_.records[2].kind, RecordKind::DirectXUpdate);
  EXPECT_FALSE(journal_.records[2].done);
  EXPECT_EQ(journal_.records[2].path, L"Updating DirectX...");
}

TEST_F(Journal, ShortcutBacksUpOnlyTheFirstPreviousLinkOfItsKind) {
  const fs::path menu = root_ / L"Menu";
  fs::create_directories(menu);
  write_text(menu / L"first.lnk", "first");
  write_text(menu / L"second.lnk", "second");
  write_text(menu / L"uninstall.LNK", "uninstall");
  journal_.previousRecords = {previous(RecordKind::DesktopShortcut, root_ / L"missing.lnk"),
                              previous(RecordKind::MenuShortcut, menu / L"first.lnk"),
                              previous(RecordKind::MenuShortcut, menu / L"second.lnk"),
                              previous(RecordKind::UninstallShortcut, menu / L"uninstall.LNK")};

  journal_.BeginShortcut(0, (root_ / L"NewMenu").wstring());
  ASSERT_EQ(journal_.records.size(), 2u);  // the new folder, then the shortcut
  EXPECT_EQ(journal_.records[0].kind, RecordKind::CreatedFolder);
  JournalRecord& link = journal_.records[1];
  EXPECT_EQ(link.kind, RecordKind::MenuShortcut);
  EXPECT_TRUE(link.path.empty());
  EXPECT_FALSE(fs::exists(menu / L"first.lnk"));
  EXPECT_TRUE(fs::exists(menu / L"second.lnk"));
  EXPECT_EQ(read_text(link.backupPath), "first");
  const fs::path created = root_ / L"NewMenu" / L"Tessaline.lnk";
  write_text(created, "created");
  journal_.EndOperation(true, created.c_str());
  EXPECT_EQ(link.path, created.wstring());

  // The extension test ignores case; a missing previous link leaves no backup.
  journal_.BeginShortcut(1, menu.wstring());
  EXPECT_EQ(journal_.records.back().kind, RecordKind::UninstallShortcut);
  EXPECT_FALSE(journal_.records.back().backupPath.empty());
  journal_.EndOperation(false, nullptr);
  journal_.BeginShortcut(2, root_.wstring());
  EXPECT_EQ(journal_.records.back().kind, RecordKind::DesktopShortcut);
  EXPECT_TRUE(journal_.records.back().backupPath.empty());
  journal_.EndOperation(false, nullptr);

  // The previous link comes back under the path of the link created.
  journal_.Rollback();
  EXPECT_EQ(read_text(created), "first");
  EXPECT_FALSE(fs::exists(menu / L"first.lnk"));
}

TEST_F(Journal, ShortcutLeavesAPreviousRecordNamingAnythingButALinkAlone) {
  // A tampered previous log must not make the installer move a system file away.
  const fs::path library = root_ / L"system32.dll";
  const fs::path linkish = root_ / L"notes.lnk.txt";
  const fs::path folder = root_ / L"Folder.lnk";
  write_text(library, "library");
  write_text(linkish, "notes");
  fs::create_directories(folder);
  journal_.previousRecords = {previous(RecordKind::MenuShortcut, library),
                              previous(RecordKind::UninstallShortcut, linkish),
                              previous(RecordKind::DesktopShortcut, folder)};
  for (int which : {0, 1, 2}) {
    journal_.BeginShortcut(which, root_.wstring());
    EXPECT_TRUE(journal_.records.back().backupPath.empty()) << which;
    journal_.EndOperation(true, nullptr);
  }
  EXPECT_EQ(read_text(library), "library");
  EXPECT_EQ(read_text(linkish), "notes");
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(folders_.temp_file_count(), 0u);
}

class JournalUninstallKey : public Journal {
 protected:
  void SetUp() override { nv::set_current_product(nv::tessaline_7); }
  void TearDown() override { nv::set_current_product(0); }

  nv::reg_key product_key() {
    return nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE, product_path_.c_str());
  }
  bool product_key_exists() {
    HKEY raw = nullptr;
    const LSTATUS status =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, product_path_.c_str(), 0, KEY_READ, &raw);
    nv::reg_key owned(raw);
    return status == ERROR_SUCCESS;
  }
  std::wstring display_name() {
    wchar_t text[64] = {};
    DWORD size = sizeof text;
    ::RegGetValueW(HKEY_LOCAL_MACHINE, product_path_.c_str(), L"DisplayName", RRF_RT_REG_SZ,
                   nullptr, text, &size);
    return text;
  }

  nv_test::scratch_machine_key scratch_;
  const std::wstring product_path_ = std::wstring(engine::kUninstallKeyPath) + L"\\Tessaline 7";
};

TEST_F(JournalUninstallKey, RollbackDeletesANewKeyWithEverythingInIt) {
  {
    const nv::reg_key key = product_key();
    nv_test::set_string_value(key.get(), L"DisplayName", L"Tessaline 7.08v");
    nv_test::set_string_value(key.get(), L"UninstallString", L"C:\\x\\Uninstall.exe");
    nv_test::scratch_machine_key::create(key.get(), L"Nested");
  }
  nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE,
                                       (std::wstring(engine::kUninstallKeyPath) + L"\\Other").c_str());
  journal_.BeginUninstallKey(nullptr);
  journal_.EndOperation(true, nullptr);
  ASSERT_EQ(journal_.records.size(), 1u);
  EXPECT_EQ(journal_.records[0].kind, RecordKind::UninstallKey);
  EXPECT_TRUE(journal_.records[0].backupPath.empty());

  journal_.Rollback();
  EXPECT_FALSE(product_key_exists());
  HKEY raw = nullptr;
  EXPECT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            (std::wstring(engine::kUninstallKeyPath) + L"\\Other").c_str(), 0,
                            KEY_READ, &raw),
            ERROR_SUCCESS);
  nv::reg_key other(raw);
}

TEST_F(JournalUninstallKey, ExistingKeyIsSavedToAHiveFileThatCommitDeletes) {
  const nv::reg_key key = product_key();
  nv_test::set_string_value(key.get(), L"DisplayName", L"old");
  journal_.BeginUninstallKey(key.get());
  journal_.EndOperation(true, nullptr);
  const fs::path hive = journal_.records.at(0).backupPath;
  ASSERT_FALSE(hive.empty());
  EXPECT_EQ(hive.parent_path(), folders_.system_temp());
  EXPECT_GT(fs::file_size(hive), 0u);
  journal_.Commit();
  EXPECT_FALSE(fs::exists(hive));
  EXPECT_TRUE(journal_.records[0].backupPath.empty());
}

TEST_F(JournalUninstallKey, FailedSaveLeavesNoBackup) {
  // A handle that names no key: the save fails and its reserved file must not stay behind.
  journal_.BeginUninstallKey(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x00DEAD00)));
  ASSERT_EQ(journal_.records.size(), 1u);
  EXPECT_TRUE(journal_.records[0].backupPath.empty());
  EXPECT_EQ(folders_.temp_file_count(), 0u);
}

TEST_F(JournalUninstallKey, RollbackRestoresTheKeyThatExistedBefore) {
  if (nv_testing::running_under_wine())
    GTEST_SKIP() << "RegRestoreKeyW is a stub in Wine: it reports success and changes nothing";
  {
    const nv::reg_key key = product_key();
    nv_test::set_string_value(key.get(), L"DisplayName", L"old");
    journal_.BeginUninstallKey(key.get());
    journal_.EndOperation(true, nullptr);
    nv_test::set_string_value(key.get(), L"DisplayName", L"new");
  }
  const fs::path hive = journal_.records.at(0).backupPath;
  ASSERT_FALSE(hive.empty());
  journal_.Rollback();
  EXPECT_EQ(display_name(), L"old");
  EXPECT_FALSE(fs::exists(hive));
}

}  // namespace
