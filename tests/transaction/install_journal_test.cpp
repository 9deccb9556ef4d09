#include "transaction/install_journal.h"

#include <windows.h>

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "transaction/file_backup.h"
#include "transaction/journal_undo.h"
#include "transaction/removal_places.h"
#include "machine/final_path_test_support.h"
#include "transaction/journal_test_support.h"
#include "nv/product.h"

namespace {

using engine::JournalRecord;
using engine::RecordKind;
using journal_test::read_only;
using journal_test::read_text;
using journal_test::write_text;
namespace fs = std::filesystem;

JournalRecord previous(RecordKind kind, const fs::path& path, bool done = true) {
  return JournalRecord{kind, path.wstring(), L"", done, -1};
}

void make_read_only(const fs::path& path) {
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
}

class Journal : public ::testing::Test {
 protected:
  journal_test::private_folders folders_;
  fs::path root_ = folders_.root();
  // The private folder holds the machine's Start menu and all-users data.
  journal_test::machine_places machine_{journal_test::machine_places::below(root_)};
  engine::CInstallJournal journal_;
};

TEST_F(Journal, NestedFoldersComeBeforeTheFileAndGoAfterItInReverse) {
  const fs::path file = root_ / L"New" / L"Sub" / L"file.txt";
  journal_.BeginFile(file.wstring(), 1, false);
  ASSERT_EQ(journal_.records.size(), 3u);
  EXPECT_EQ(journal_.records[0].path, (root_ / L"New").wstring());
  EXPECT_EQ(journal_.records[1].path, (root_ / L"New" / L"Sub").wstring());
  for (int i : {0, 1}) {
    EXPECT_EQ(journal_.records[i].kind, RecordKind::CreatedFolder);
    EXPECT_TRUE(journal_.records[i].done);
  }
  EXPECT_EQ(journal_.records[2].kind, RecordKind::InstalledFile);
  EXPECT_EQ(journal_.records[2].payloadKind, 1);
  write_text(file, "new");

  // The operation's own record is completed; a second end without a new operation does nothing.
  journal_.EndOperation(true, nullptr);
  EXPECT_TRUE(journal_.records[2].done);
  journal_.EndOperation(false, L"C:\\other");
  EXPECT_TRUE(journal_.records[2].done);
  EXPECT_EQ(journal_.records[2].path, file.wstring());

  // A folder that could not be created stops the deeper ones.
  journal_.EnsureFolders((file / L"Deeper" / L"Deepest").wstring());
  EXPECT_EQ(journal_.records.size(), 3u);
  // A folder path over 259 characters is not cut into some other, truncated folder.
  const fs::path too_long = root_ / std::wstring(300, L'd') / L"Sub";
  journal_.EnsureFolders(too_long.wstring());
  EXPECT_EQ(journal_.records.size(), 3u);

  journal_.Rollback();
  EXPECT_TRUE(journal_.records.empty());
  EXPECT_FALSE(fs::exists(root_ / L"New"));
  journal_.Commit();  // nothing left to commit
  EXPECT_EQ(folders_.temp_file_count(), 0u);
}

TEST_F(Journal, ReadOnlyFileGoesToABackupAndComesBackReadOnly) {
  const fs::path file = root_ / L"program.exe";
  write_text(file, "old");
  make_read_only(file);

  journal_.BeginFile(file.wstring(), 1, false);
  const fs::path backup = journal_.records.at(0).backupPath;
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(backup.parent_path(), folders_.system_temp());
  EXPECT_EQ(backup.filename().wstring().substr(0, 2), L"nv");
  EXPECT_EQ(read_text(backup), "old");
  EXPECT_TRUE(read_only(backup));

  // The new file is read-only too, as the install sequence leaves its executables.
  write_text(file, "new");
  make_read_only(file);
  journal_.EndOperation(true, nullptr);
  journal_.Rollback();
  EXPECT_EQ(read_text(file), "old");
  EXPECT_TRUE(read_only(file));
  EXPECT_EQ(folders_.temp_file_count(), 0u);
}

TEST_F(Journal, KeepSourceLeavesTheFileAndCommitDeletesTheCopy) {
  const fs::path file = root_ / L"shared.dat";
  write_text(file, "shared");
  ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  const DWORD original = journal_test::attributes(file);

  journal_.BeginFile(file.wstring(), 3, true);
  journal_.EndOperation(true, nullptr);
  const fs::path backup = journal_.records.at(0).backupPath;
  EXPECT_EQ(read_text(file), "shared");
  EXPECT_EQ(read_text(backup), "shared");
  EXPECT_EQ(journal_test::attributes(file), original);
  EXPECT_EQ(journal_test::attributes(backup), original);

  journal_.Commit();
  ASSERT_EQ(journal_.records.size(), 1u);
  EXPECT_TRUE(journal_.records[0].backupPath.empty());
  EXPECT_EQ(folders_.temp_file_count(), 0u);
  EXPECT_EQ(read_text(file), "shared");
}

TEST_F(Journal, NoBackupWhenTheTemporaryFolderIsTooLong) {
  const fs::path file = root_ / L"source.txt";
  write_text(file, "source");
  make_read_only(file);
  // 247 characters with the trailing separator: one more than a backup folder may have.
  const std::wstring base = folders_.system_temp().wstring() + L"\\";
  const std::wstring deep = base + std::wstring(246 - base.size(), L'x') + L"\\";
  fs::create_directories(deep);
  journal_test::temp_path_override too_long(deep);
  EXPECT_EQ(engine::MakeBackup(file.c_str(), false), L"");
  EXPECT_EQ(engine::MakeBackup(nullptr, false), L"");
  EXPECT_EQ(read_text(file), "source");
  EXPECT_TRUE(read_only(file));
  EXPECT_TRUE(fs::is_empty(deep));
}

TEST_F(Journal, WasInstalledBeforeNeedsADoneFileRecordWithTheExactPath) {
  journal_.previousRecords = {previous(RecordKind::InstalledFile, L"C:\\Data\\Shared.dat"),
                              previous(RecordKind::InstalledFile, L"C:\\Data\\Failed.dat", false),
                              previous(RecordKind::MenuShortcut, L"C:\\Data\\Link.lnk")};
  EXPECT_TRUE(journal_.WasInstalledBefore(L"C:\\Data\\Shared.dat"));
  EXPECT_FALSE(journal_.WasInstalledBefore(L"C:\\data\\shared.dat"));
  EXPECT_FALSE(journal_.WasInstalledBefore(L"C:\\Data\\Failed.dat"));
  EXPECT_FALSE(journal_.WasInstalledBefore(L"C:\\Data\\Link.lnk"));
}

TEST_F(Journal, ShortcutBacksUpOnlyTheFirstPreviousLinkOfItsKind) {
  const fs::path menu = root_ / L"Menu";
  fs::create_directories(menu);
  for (const wchar_t* name : {L"first.lnk", L"second.lnk", L"uninstall.LNK"})
    write_text(menu / name, fs::path(name).stem().string());
  journal_.previousMenuFolder = menu.wstring();
  journal_.previousRecords = {previous(RecordKind::MenuShortcut, menu / L"first.lnk"),
                              previous(RecordKind::MenuShortcut, menu / L"second.lnk"),
                              previous(RecordKind::UninstallShortcut, menu / L"uninstall.LNK")};

  journal_.BeginShortcut(0, (root_ / L"NewMenu").wstring());
  ASSERT_EQ(journal_.records.size(), 2u);  // the new folder, then the shortcut
  EXPECT_EQ(journal_.records[1].kind, RecordKind::MenuShortcut);
  EXPECT_FALSE(fs::exists(menu / L"first.lnk"));
  EXPECT_TRUE(fs::exists(menu / L"second.lnk"));
  EXPECT_EQ(read_text(journal_.records[1].backupPath), "first");
  const fs::path created = root_ / L"NewMenu" / L"Tessaline.lnk";
  write_text(created, "created");
  journal_.EndOperation(true, created.c_str());
  EXPECT_EQ(journal_.records[1].path, created.wstring());

  journal_.BeginShortcut(1, menu.wstring());  // the extension is matched in any case
  EXPECT_EQ(journal_.records.back().kind, RecordKind::UninstallShortcut);
  EXPECT_FALSE(fs::exists(menu / L"uninstall.LNK"));
  journal_.EndOperation(false, nullptr);

  // The link created goes and the previous link comes back to its own place.
  journal_.Rollback();
  EXPECT_FALSE(fs::exists(created));
  EXPECT_EQ(read_text(menu / L"first.lnk"), "first");
  EXPECT_EQ(read_text(menu / L"uninstall.LNK"), "uninstall");
}

TEST_F(Journal, ShortcutLeavesAPreviousRecordNamingAnythingButALinkAlone) {
  // A tampered previous log must not make the installer move a system file away, nor a link
  // that lies outside the previous installation's menu folder and the desktops.
  journal_.previousMenuFolder = (root_ / L"Menu").wstring();
  const fs::path library = root_ / L"Menu" / L"system32.dll";
  const fs::path notes = root_ / L"Menu" / L"notes.lnk.txt";
  const fs::path folder = root_ / L"Menu" / L"Folder.lnk";
  const fs::path elsewhere = folders_.system_temp().parent_path() / L"Elsewhere" / L"other.lnk";
  fs::create_directories(folder);
  fs::create_directories(elsewhere.parent_path());
  write_text(library, "library");
  write_text(notes, "notes");
  write_text(elsewhere, "other");
  journal_.previousRecords = {previous(RecordKind::MenuShortcut, library),
                              previous(RecordKind::UninstallShortcut, notes),
                              previous(RecordKind::DesktopShortcut, folder)};
  for (int which : {0, 1, 2}) {
    journal_.BeginShortcut(which, root_.wstring());
    EXPECT_EQ(journal_.records.back().kind, static_cast<RecordKind>(2 + which));
    EXPECT_TRUE(journal_.records.back().backupPath.empty()) << which;
    journal_.EndOperation(true, nullptr);
  }
  EXPECT_EQ(read_text(library), "library");
  EXPECT_EQ(read_text(notes), "notes");
  EXPECT_TRUE(fs::is_directory(folder));
  engine::CInstallJournal other;
  other.previousMenuFolder = journal_.previousMenuFolder;
  other.previousRecords = {previous(RecordKind::MenuShortcut, elsewhere)};
  other.BeginShortcut(0, root_.wstring());
  EXPECT_TRUE(other.records.back().backupPath.empty());
  other.EndOperation(true, nullptr);
  EXPECT_EQ(read_text(elsewhere), "other");
  EXPECT_EQ(folders_.temp_file_count(), 0u);
}

// What an undo deletes, it deletes only where the record names it, or with the places of an
// uninstallation only below the place that allows it: a file or folder that seems to lie
// elsewhere (a folder on the way swapped for a junction) stays, and the undo says so.
TEST_F(Journal, UndoDeletesOnlyWhereTheRecordOrItsPlaceSays) {
  engine::RemovalPlaces places;
  places.installFolder = (root_ / L"App").wstring();
  const struct {
    RecordKind kind;
    fs::path path;
    bool withPlaces, seemsElsewhere, undone;
  } cases[] = {
      {RecordKind::InstalledFile, root_ / L"App" / L"a.exe", false, false, true},
      {RecordKind::InstalledFile, root_ / L"App" / L"b.exe", false, true, false},
      {RecordKind::InstalledFile, root_ / L"App" / L"c.exe", true, false, true},
      {RecordKind::InstalledFile, root_ / L"Other" / L"d.exe", true, false, false},
      {RecordKind::CreatedFolder, root_ / L"App" / L"Lang", true, false, true},
      {RecordKind::CreatedFolder, root_ / L"App" / L"Help", true, true, false},
  };
  using engine::UndoOutcome;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    fs::create_directories(c.kind == RecordKind::CreatedFolder ? c.path : c.path.parent_path());
    if (c.kind == RecordKind::InstalledFile) write_text(c.path, "new");
    const JournalRecord record{c.kind, c.path.wstring(), L"", true, 1};
    std::optional<engine_test::moved_final_paths> moved;
    if (c.seemsElsewhere) moved.emplace(c.path.wstring(), L"C:\\windows\\system32\\x");
    // A refusal is final: nothing there is ours to act on, and no later attempt is owed.
    EXPECT_EQ(engine::UndoRecord(record, c.withPlaces ? &places : nullptr),
              c.undone ? UndoOutcome::done : UndoOutcome::refused);
    EXPECT_EQ(fs::exists(c.path), !c.undone);
    moved.reset();
    // Where the record names it, it goes; then nothing is left to undo.
    EXPECT_EQ(engine::UndoRecord(record), UndoOutcome::done);
    EXPECT_FALSE(fs::exists(c.path));
    EXPECT_EQ(engine::UndoRecord(record), UndoOutcome::done);
  }
}

class JournalUninstallKey : public Journal {
 protected:
  // The key existed with DisplayName "old", was saved by the journal's operation and then
  // changed to "new", as the registry step of an update leaves it.
  void backUpThenChangeKey() {
    const nv::reg_key key = create(L"Tessaline 7");
    nv_test::set_string_value(key.get(), L"DisplayName", L"old");
    journal_.BeginUninstallKey(key.get());
    journal_.EndOperation(true, nullptr);
    nv_test::set_string_value(key.get(), L"DisplayName", L"new");
  }
  void SetUp() override { nv::set_current_product(nv::tessaline_7); }
  void TearDown() override { nv::set_current_product(0); }

  static nv::reg_key create(const std::wstring& name) {
    return nv_test::scratch_machine_key::create(
        HKEY_LOCAL_MACHINE, (std::wstring(engine::kUninstallKeyPath) + L"\\" + name).c_str());
  }
  static LSTATUS open(const std::wstring& name) {
    HKEY raw = nullptr;
    const LSTATUS status = ::RegOpenKeyExW(
        HKEY_LOCAL_MACHINE, (std::wstring(engine::kUninstallKeyPath) + L"\\" + name).c_str(), 0,
        KEY_READ, &raw);
    const nv::reg_key owned(raw);
    return status;
  }
  // The product key's display name; empty when there is none.
  static std::wstring displayName() {
    wchar_t text[64] = {};
    DWORD size = sizeof text;
    ::RegGetValueW(HKEY_LOCAL_MACHINE,
                   (std::wstring(engine::kUninstallKeyPath) + L"\\Tessaline 7").c_str(),
                   L"DisplayName", RRF_RT_REG_SZ, nullptr, text, &size);
    return text;
  }

  nv_test::scratch_machine_key scratch_;
};

TEST_F(JournalUninstallKey, RollbackDeletesANewKeyWithEverythingInIt) {
  {
    const nv::reg_key key = create(L"Tessaline 7");
    nv_test::set_string_value(key.get(), L"DisplayName", L"Tessaline 7.08v");
    nv_test::scratch_machine_key::create(key.get(), L"Nested");
  }
  create(L"Other");
  journal_.BeginUninstallKey(nullptr);
  journal_.EndOperation(true, nullptr);
  EXPECT_TRUE(journal_.records.at(0).backupPath.empty());
  journal_.Rollback();
  EXPECT_EQ(open(L"Tessaline 7"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(open(L"Other"), ERROR_SUCCESS);
}

TEST_F(JournalUninstallKey, AnExistingKeyIsSavedAndCommitDeletesTheStateFile) {
  const nv::reg_key key = create(L"Tessaline 7");
  nv_test::set_string_value(key.get(), L"DisplayName", L"old");
  journal_.BeginUninstallKey(key.get());
  const fs::path state = journal_.records.at(0).backupPath;
  ASSERT_FALSE(state.empty());
  EXPECT_GT(fs::file_size(state), 0u);
  journal_.Commit();
  EXPECT_FALSE(fs::exists(state));
}

TEST_F(JournalUninstallKey, RollbackRestoresTheKeyThatExistedBefore) {
  backUpThenChangeKey();
  journal_.Rollback();
  EXPECT_EQ(displayName(), L"old");
  EXPECT_EQ(folders_.temp_file_count(), 0u);
}

// A state file damaged since it was written cannot say what the key held: the key stays as it
// is, the undo says so, and the useless file goes.
TEST_F(JournalUninstallKey, ADamagedStateFileLeavesTheKeyAndTheUndoSaysSo) {
  backUpThenChangeKey();
  const JournalRecord record = journal_.records.at(0);
  journal_.records.clear();
  std::string bytes = read_text(record.backupPath);
  bytes[bytes.size() / 2] ^= 0x01;
  write_text(record.backupPath, bytes);
  EXPECT_EQ(engine::UndoRecord(record), engine::UndoOutcome::refused);
  EXPECT_EQ(displayName(), L"new");
  EXPECT_FALSE(fs::exists(record.backupPath));
  EXPECT_EQ(engine::UndoRecord(record), engine::UndoOutcome::done) << "nothing is left to undo";
  EXPECT_EQ(displayName(), L"new");
}

}  // namespace
