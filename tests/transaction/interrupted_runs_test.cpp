// The recovery of interrupted runs on real files in private folders and a scratch stand-in for
// HKEY_LOCAL_MACHINE: one run makes every kind of change through the journal with its run file
// and is then abandoned, as a killed process leaves it; the recovery must bring back the exact
// state from before -- also when the journal ends in a torn entry, when the recovery itself was
// cut off, newest run first -- and must leave live, foreign and unknown journals alone.
#include "transaction/interrupted_runs.h"

#include <windows.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "transaction/removal_places.h"
#include "machine/write_trust.h"
#include "transaction/install_journal.h"
#include "transaction/journal_file.h"
#include "transaction/journal_folder.h"
#include "transaction/journal_undo.h"
#include "machine/machine_folders.h"
#include "machine/product_keys.h"
#include "transaction/journal_test_support.h"
#include "machine/trust_test_support.h"
#include "nv/product.h"
#include "nv/unique_handle.h"

namespace {

using engine::CInstallJournal;
using engine::JournalRecord;
using engine::RecordKind;
using journal_test::read_text;
using journal_test::write_text;
namespace fs = std::filesystem;

// Writes the product path value where the registration step writes it, as a run that registered
// the product before it was killed leaves it.
void WriteProductPath(const std::wstring& mainProgramPath) {
  const nv::reg_key maker =
      nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE, engine::makerKey);
  nv_test::set_string_value(maker.get(), engine::ProductPathValueName().c_str(), mainProgramPath);
}

const std::wstring kProductKey = std::wstring(engine::uninstallKeyParent) + L"\\Tessaline 7";

// Every file and folder below a root: contents and the read-only bit.
std::map<std::wstring, std::string> treeOf(const fs::path& root) {
  std::map<std::wstring, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::wstring name = fs::relative(entry.path(), root).wstring();
    tree[name] = entry.is_directory() ? "<dir>"
                                      : read_text(entry.path()) +
                                            (journal_test::read_only(entry.path()) ? "|ro" : "");
  }
  return tree;
}

// The values of an HKEY_LOCAL_MACHINE key, or nothing when the key is missing.
std::optional<std::map<std::wstring, std::wstring>> valuesOf(const std::wstring& subkey) {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS)
    return std::nullopt;
  const nv::reg_key key(raw);
  std::map<std::wstring, std::wstring> values;
  wchar_t name[256];
  BYTE data[1024];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256, size = sizeof data, type = 0;
    if (::RegEnumValueW(key.get(), i, name, &length, nullptr, &type, data, &size) != ERROR_SUCCESS)
      break;
    values[name] = std::to_wstring(type) + L":" +
                   std::wstring(reinterpret_cast<wchar_t*>(data), size / sizeof(wchar_t));
  }
  return values;
}

struct MachineState {
  std::map<std::wstring, std::string> files;
  std::optional<std::map<std::wstring, std::wstring>> uninstallKey, makerKey;
  bool operator==(const MachineState&) const = default;
};

void PrintTo(const MachineState& state, std::ostream* out) {
  for (const auto& [name, content] : state.files)
    *out << "\n  " << ::testing::PrintToString(name) << " " << content;
  *out << "\n  uninstall key " << ::testing::PrintToString(state.uninstallKey)
       << "\n  maker key " << ::testing::PrintToString(state.makerKey);
}

class Recovery : public ::testing::Test {
 protected:
  void SetUp() override {
    nv::set_current_product(nv::tessaline_7);
    nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE, engine::uninstallKeyParent);
    previousFolder_ = engine::SetJournalFolderPath(journalFolder_.wstring());
    // The machine's places of an installation lie in the private folder: its all-users data
    // (and the maker's folder in it) and its Start menu.
    engine::MachineFolders machine;
    machine.commonAppData = root_.wstring();
    machine.startMenus = {root_.wstring()};
    previousMachine_ = engine::ReplaceMachineFolders(machine);
    // The machine as an earlier installation left it.
    fs::create_directories(app_);
    write_text(app_ / L"Tessaline.exe", "old program");
    ::SetFileAttributesW((app_ / L"Tessaline.exe").c_str(), FILE_ATTRIBUTE_READONLY);
    write_text(app_ / L"Uninstall.ulog", "old log");
    fs::create_directories(shared_);
    write_text(shared_ / L"shared.dat", "shared");
    fs::create_directories(root_ / L"Menu");
    write_text(root_ / L"Menu" / L"Old.lnk", "old link");
    const nv::reg_key maker =
        nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE, engine::makerKey);
    nv_test::set_string_value(maker.get(), L"Tessaline 7 Path", L"C:\\old\\Tessaline.exe");
  }
  void TearDown() override {
    engine::SetJournalFolderPath(previousFolder_);
    engine::ReplaceMachineFolders(previousMachine_);
    nv::set_current_product(0);
  }

  MachineState state() const {
    return {treeOf(root_), valuesOf(kProductKey), valuesOf(engine::makerKey)};
  }

  // One run that makes every kind of change, each announced in its run file first, and is then
  // abandoned without Commit or Rollback, as a killed process leaves it.
  void interruptedRun() {
    CInstallJournal journal;
    journal.previousMenuFolder = (root_ / L"Menu").wstring();
    journal.previousRecords = {JournalRecord{RecordKind::MenuShortcut,
                                             (root_ / L"Menu" / L"Old.lnk").wstring(), L"", true,
                                             -1}};
    const fs::path work = folders_.system_temp() / L"nuvelle_{run}";
    ASSERT_FALSE(journal.OpenRunFile(placesWith(work)));
    ASSERT_FALSE(journal.WriteAhead({RecordKind::WorkingFolder, work.wstring()}));
    fs::create_directories(work);
    ASSERT_FALSE(journal.WriteAhead({RecordKind::TemporaryFile, (work / L"DSetup.dll").wstring()}));
    write_text(work / L"DSetup.dll", "setup");

    for (const fs::path& file : {app_ / L"Tessaline.exe", app_ / L"Lang" / L"New" / L"fr.dll"}) {
      ASSERT_FALSE(journal.BeginFile(file.wstring(), 0, false));
      write_text(file, "new");
      journal.EndOperation(true, nullptr);
    }
    journal.AdoptFile((shared_ / L"shared.dat").wstring(), 3);
    journal.BeginShortcut(0, (root_ / L"Menu").wstring());
    const fs::path link = root_ / L"Menu" / L"New.lnk";
    journal.PlanPath(link.wstring());
    write_text(link, "new link");
    journal.EndOperation(true, link.c_str());

    ASSERT_FALSE(journal.SecureUninstallKey());
    {
      const nv::reg_key key = nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE,
                                                                    kProductKey.c_str());
      journal.BeginUninstallKey(nullptr);
      nv_test::set_string_value(key.get(), L"DisplayName", L"Tessaline 7.08v");
      journal.EndOperation(true, nullptr);
    }
    ASSERT_FALSE(journal.SecureProductPath());
    WriteProductPath((app_ / L"Tessaline.exe").wstring());
    ASSERT_FALSE(journal.SecureFile((app_ / L"Uninstall.ulog").wstring()));
    write_text(app_ / L"Uninstall.ulog", "new log");
    runFile_ = journal.runFilePath();
    // The journal goes without ending its run: its file stays, as a killed process leaves it.
  }

  // The folders of a run of this machine, with its working folder `work`.
  engine::RunPlaces placesWith(const fs::path& work = {}) const {
    return {app_.wstring(), (root_ / L"Menu").wstring(), L"", L"", work.wstring()};
  }

  std::vector<fs::path> journals() const {
    std::vector<fs::path> found;
    if (fs::exists(journalFolder_))
      for (const auto& entry : fs::directory_iterator(journalFolder_)) found.push_back(entry.path());
    return found;
  }

  nv_test::scratch_machine_key machine_;
  journal_test::private_folders folders_;
  fs::path root_ = folders_.root() / L"machine";
  fs::path app_ = root_ / L"App";
  fs::path shared_ = root_ / L"Nuvelle" / L"Shared";
  fs::path journalFolder_ = folders_.root() / L"Journal";
  std::wstring previousFolder_;
  std::optional<engine::MachineFolders> previousMachine_;
  std::wstring runFile_;
};

TEST_F(Recovery, AnInterruptedRunIsUndoneToTheStateBeforeItAndItsJournalGoes) {
  const MachineState before = state();
  interruptedRun();
  ASSERT_FALSE(runFile_.empty());
  EXPECT_NE(state(), before);

  std::vector<std::wstring> told;
  const engine::RecoveryResult result =
      engine::RecoverInterruptedRuns([&](const engine::RecoveredRun& run) { told.push_back(run.journal); });
  EXPECT_FALSE(result.error);
  ASSERT_EQ(result.runs.size(), 1u);
  EXPECT_EQ(told, std::vector<std::wstring>{runFile_});
  EXPECT_TRUE(result.undidInstallation());
  EXPECT_FALSE(result.runs[0].damaged);
  EXPECT_EQ(state(), before);  // the maker's and the journal folder included: both are gone
  EXPECT_EQ(folders_.temp_file_count(), 0u) << "a backup was left";
  EXPECT_TRUE(engine::RecoverInterruptedRuns().runs.empty());
}

// An update interrupted after it rewrote the earlier installation's uninstall key: the key comes
// back as it was, every value with its type and data, and the saved state goes with the journal.
TEST_F(Recovery, AnInterruptedUpdatePutsTheEarlierUninstallKeyBack) {
  {
    const nv::reg_key key =
        nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE, kProductKey.c_str());
    nv_test::set_string_value(key.get(), L"DisplayName", L"Tessaline 7.08u");
    nv_test::set_string_value(key.get(), L"Comments", L"left by 7.08u");
    const DWORD english = 1;
    nv_test::set_raw_value(key.get(), L"NvLanguage", REG_DWORD, &english, sizeof english);
  }
  const MachineState before = state();
  {
    CInstallJournal journal;
    ASSERT_FALSE(journal.OpenRunFile());
    ASSERT_FALSE(journal.SecureUninstallKey());
    const nv::reg_key key =
        nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE, kProductKey.c_str());
    journal.BeginUninstallKey(key.get());
    nv_test::set_string_value(key.get(), L"DisplayName", L"Tessaline 7.08v");
    ::RegDeleteValueW(key.get(), L"Comments");
    const DWORD german = 7;
    nv_test::set_raw_value(key.get(), L"NvLanguage", REG_DWORD, &german, sizeof german);
    journal.EndOperation(true, nullptr);
    // The journal goes without ending its run, as a killed process leaves it.
  }
  ASSERT_NE(state(), before);
  ASSERT_EQ(engine::RecoverInterruptedRuns().runs.size(), 1u);
  EXPECT_EQ(state(), before);
  EXPECT_TRUE(journals().empty());
}

TEST_F(Recovery, ATornLastEntryIsIgnoredAndARecoveryCutOffIsDoneAgain) {
  const MachineState before = state();
  interruptedRun();
  // The power failed while the next record was being written: half a line, no change made.
  std::string bytes = read_text(runFile_);
  const std::size_t last = bytes.rfind('\n', bytes.size() - 2) + 1;
  bytes += bytes.substr(last, (bytes.size() - last) / 2);
  write_text(runFile_, bytes);
  // The first recovery is cut off after its undo, before the journal was deleted: the same
  // journal is found again at the next start.
  ASSERT_EQ(engine::RecoverInterruptedRuns().runs.size(), 1u);
  fs::create_directories(journalFolder_);
  write_text(runFile_, bytes);
  const engine::RecoveryResult again = engine::RecoverInterruptedRuns();
  ASSERT_EQ(again.runs.size(), 1u);
  EXPECT_TRUE(again.runs[0].damaged);
  EXPECT_EQ(state(), before);
  EXPECT_EQ(folders_.temp_file_count(), 0u);
}

TEST_F(Recovery, AFinishedRunStandsAndOnlyItsLeftoversGoThenTheOlderRunIsUndone) {
  const MachineState before = state();
  interruptedRun();
  ::Sleep(50);  // the second run's journal is the newer one
  // A second run replaces a file of the first and adds its own, commits and is killed before its
  // working folder and its journal went.
  const fs::path work = folders_.system_temp() / L"nuvelle_{second}";
  const fs::path added = app_ / L"second.dat";
  std::wstring second;
  {
    CInstallJournal journal;
    ASSERT_FALSE(journal.OpenRunFile(placesWith(work)));
    ASSERT_FALSE(journal.WriteAhead({RecordKind::WorkingFolder, work.wstring()}));
    fs::create_directories(work);
    for (const fs::path& file : {app_ / L"Lang" / L"New" / L"fr.dll", added}) {
      ASSERT_FALSE(journal.BeginFile(file.wstring(), 0, false));
      write_text(file, "second");
      journal.EndOperation(true, nullptr);
    }
    journal.Commit();
    second = journal.runFilePath();
  }

  const engine::RecoveryResult result = engine::RecoverInterruptedRuns();
  ASSERT_EQ(result.runs.size(), 2u);
  EXPECT_EQ(result.runs[0].journal, second);
  EXPECT_TRUE(result.runs[0].finished);
  EXPECT_EQ(result.runs[1].journal, runFile_);
  EXPECT_FALSE(result.runs[1].finished);
  // The finished run's file stands; the file the older run had made first is undone with it.
  EXPECT_EQ(read_text(added), "second");
  fs::remove(added);
  EXPECT_EQ(state(), before);
  EXPECT_EQ(folders_.temp_file_count(), 0u);
}

TEST_F(Recovery, LiveForeignAndUnknownJournalsAreLeftAlone) {
  const MachineState before = state();
  CInstallJournal live;
  ASSERT_FALSE(live.OpenRunFile(placesWith()));
  const fs::path made = app_ / L"live.dat";
  ASSERT_FALSE(live.BeginFile(made.wstring(), 0, false));
  write_text(made, "live");
  live.EndOperation(true, nullptr);
  // Files a user could have put into the folder before it was protected, and a journal of a
  // later format.
  const fs::path foreign = journalFolder_ / L"{foreign}.journal";
  const fs::path later = journalFolder_ / L"{later}.journal";
  write_text(foreign, std::string(engine::kJournalVersionLine) + "\n");
  write_text(later, "Nuvelle installation journal 3\n");
  const fs::path own = journalFolder_ / L"{empty}.journal";
  write_text(own, "Nuvelle inst");  // cut before its version line was complete: no change made
  const trust_test::planted_where planted(L"{foreign}");

  const engine::RecoveryResult result = engine::RecoverInterruptedRuns();
  EXPECT_EQ(result.alive, 1u);
  EXPECT_EQ(result.refused, 2u);
  ASSERT_EQ(result.runs.size(), 1u);
  EXPECT_EQ(result.runs[0].undone, 0u);
  EXPECT_EQ(read_text(made), "live");
  EXPECT_TRUE(fs::exists(foreign));
  EXPECT_TRUE(fs::exists(later));
  EXPECT_FALSE(fs::exists(own));

  // Once the others are gone, the live run's own ending removes its file and its folders.
  fs::remove(foreign);
  fs::remove(later);
  live.Rollback();
  live.CloseRunFile();
  EXPECT_EQ(state(), before);
}

// A journal that a user planted, or one whose records reach outside the run's places: the
// elevated start deletes and puts back nothing outside them, whatever the journal says.
TEST_F(Recovery, APlantedJournalChangesNothingOutsideTheInstallationsPlaces) {
  const fs::path windows = folders_.root() / L"Windows";
  fs::create_directories(windows / L"System32");
  write_text(windows / L"victim.dll", "system file");
  for (const bool plantedFile : {false, true}) {
    SCOPED_TRACE(plantedFile ? "a journal file users may change" : "records outside the places");
    const MachineState before = state();
    ASSERT_FALSE(engine::PrepareJournalFolder(journalFolder_.wstring(), true));
    const fs::path journal = journalFolder_ / L"{crafted}.journal";
    const fs::path usersBytes = journalFolder_ / L"{crafted}-1.backup";
    write_text(usersBytes, "user's program");
    {
      engine::CJournalFile file;
      ASSERT_FALSE(file.Create(journal.wstring(), placesWith()));
      JournalRecord deletion{RecordKind::InstalledFile, (windows / L"victim.dll").wstring()};
      JournalRecord replacement{RecordKind::InstalledFile,
                                (windows / L"System32" / L"evil.dll").wstring(),
                                usersBytes.wstring()};
      // A backup that is not the run's own, put back over the installed program.
      JournalRecord foreignBackup{RecordKind::InstalledFile, (app_ / L"Tessaline.exe").wstring(),
                                  (windows / L"victim.dll").wstring()};
      for (const JournalRecord& record : {deletion, replacement, foreignBackup})
        ASSERT_FALSE(file.AppendRecord(record));
      file.Close();
    }
    std::optional<trust_test::planted_where> planted;
    if (plantedFile) planted.emplace(L"{crafted}");

    const engine::RecoveryResult result = engine::RecoverInterruptedRuns();
    EXPECT_EQ(read_text(windows / L"victim.dll"), "system file");
    EXPECT_FALSE(fs::exists(windows / L"System32" / L"evil.dll"));
    EXPECT_EQ(state(), before);
    if (plantedFile) {
      EXPECT_EQ(result.refused, 1u);
      EXPECT_TRUE(result.runs.empty());
      EXPECT_TRUE(fs::exists(journal));  // left alone: not ours to judge
      planted.reset();
      fs::remove_all(journalFolder_);
    } else {
      ASSERT_EQ(result.runs.size(), 1u);
      EXPECT_EQ(result.runs[0].refused.size(), 3u);
      EXPECT_EQ(result.runs[0].undone, 0u);
      EXPECT_FALSE(fs::exists(journalFolder_)) << "the journal and its files go once refused";
    }
  }
}

// A file the recovery must delete is held by a program: the journal stays with the file named,
// nothing is reported as undone, and a later attempt finishes the job.
TEST_F(Recovery, AHeldFileKeepsTheJournalUntilALaterAttemptPutsItBack) {
  const MachineState before = state();
  interruptedRun();
  const fs::path held = app_ / L"Tessaline.exe";
  {
    nv::unique_handle holder(::CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    const engine::RecoveryResult first = engine::RecoverInterruptedRuns();
    ASSERT_EQ(first.runs.size(), 1u);
    EXPECT_TRUE(first.unfinished());
    EXPECT_EQ(first.heldFile(), held.wstring());
    EXPECT_TRUE(fs::exists(runFile_)) << "the journal must stay for the next attempt";
    EXPECT_EQ(read_text(held), "new");
  }
  const engine::RecoveryResult second = engine::RecoverInterruptedRuns();
  ASSERT_EQ(second.runs.size(), 1u);
  EXPECT_FALSE(second.unfinished());
  EXPECT_EQ(state(), before);
  EXPECT_FALSE(fs::exists(journalFolder_));
}

// What stands in the journal folder's place: a standard user's file or folder is moved aside and
// the folder made afresh by a run that writes a journal; the recovery only refuses it. A parent
// that users may change is refused by both.
TEST_F(Recovery, WhatIsNotTheProtectedFolderIsMovedAsideOrRefused) {
  const std::wstring folder = journalFolder_.wstring();
  const auto movedAside = [&] {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(journalFolder_.parent_path()))
      if (entry.path().filename().wstring().find(L"Journal.{") == 0) ++count;
    return count;
  };
  write_text(journalFolder_, "a plain file in the folder's place");
  EXPECT_EQ(engine::PrepareJournalFolder(folder, false), engine::link_refused());
  EXPECT_FALSE(engine::PrepareJournalFolder(folder, true));
  EXPECT_TRUE(fs::is_directory(journalFolder_));
  EXPECT_EQ(movedAside(), 1u);

  {
    const trust_test::planted_where planted(L"\\Journal");
    EXPECT_EQ(engine::PrepareJournalFolder(folder, false), engine::untrusted_refused());
    EXPECT_EQ(engine::RecoverInterruptedRuns().error, engine::untrusted_refused());
  }
  {
    const trust_test::planted_where planted(journalFolder_.parent_path().filename().wstring());
    EXPECT_EQ(engine::PrepareJournalFolder(folder, true), engine::untrusted_refused());
  }
  EXPECT_EQ(movedAside(), 1u);
}

// The normal endings leave no journal file, and a rollback no folder it made for one.
TEST_F(Recovery, CommitAndRollbackLeaveNoJournal) {
  const MachineState before = state();
  for (const bool commit : {false, true}) {
    CInstallJournal journal;
    ASSERT_FALSE(journal.OpenRunFile(placesWith()));
    const fs::path file = app_ / L"Added" / L"a.dat";
    ASSERT_FALSE(journal.BeginFile(file.wstring(), 0, false));
    write_text(file, "a");
    journal.EndOperation(true, nullptr);
    ASSERT_FALSE(journal.SecureProductPath());
    WriteProductPath(file.wstring());
    if (commit)
      journal.Commit();
    else
      journal.Rollback();
    journal.CloseRunFile();
    EXPECT_TRUE(journal.runFilePath().empty());
    EXPECT_FALSE(fs::exists(journalFolder_)) << commit;
    EXPECT_EQ(folders_.temp_file_count(), 0u) << commit;
    if (!commit) {
      EXPECT_EQ(state(), before);
    }
  }
  EXPECT_EQ(read_text(app_ / L"Added" / L"a.dat"), "a");
  EXPECT_TRUE(engine::RecoverInterruptedRuns().runs.empty());
}

}  // namespace
