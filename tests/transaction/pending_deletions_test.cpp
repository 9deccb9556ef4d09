// The restart's pending deletions that an installation drops before it writes: which operations
// count, the value after the drop, and the deletions scheduled again when the run is rolled back
// or, killed, undone at the next start.
#include "transaction/pending_deletions.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "transaction/install_journal.h"
#include "transaction/interrupted_runs.h"
#include "transaction/journal_test_support.h"
#include "nv/product_test_support.h"

namespace {

using engine::PendingOperation;

std::vector<PendingOperation> machineValue() {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, engine::kSessionManagerKey, 0, KEY_QUERY_VALUE, &raw) !=
      ERROR_SUCCESS)
    return {};
  const nv::reg_key key(raw);
  DWORD type = 0, size = 0;
  if (::RegQueryValueExW(key.get(), engine::kPendingOperationsValue, nullptr, &type, nullptr,
                         &size) != ERROR_SUCCESS)
    return {};
  std::wstring data(size / sizeof(wchar_t), L'\0');
  ::RegQueryValueExW(key.get(), engine::kPendingOperationsValue, nullptr, &type,
                     reinterpret_cast<BYTE*>(data.data()), &size);
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  return engine::ParsePendingOperations(data);
}

void setMachineValue(const std::vector<PendingOperation>& operations) {
  nv::reg_key key = nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE, engine::kSessionManagerKey);
  const std::wstring data = engine::FormatPendingOperations(operations);
  nv_test::set_raw_value(key.get(), engine::kPendingOperationsValue, REG_MULTI_SZ, data.data(),
                         static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

TEST(PendingDeletions, OnlyDeletionsOfThePlacesAndBelowThemCount) {
  const std::vector<std::wstring> places = {L"C:\\Program Files\\Nuvelle\\Tessaline 7",
                                            L"C:\\Users\\Public\\Desktop\\Tessaline 7.08v.lnk"};
  struct Case {
    PendingOperation operation;
    bool counts;
  };
  const Case cases[] = {
      {{L"\\??\\C:\\Program Files\\Nuvelle\\Tessaline 7\\Lang\\T.de.dll", L""}, true},
      {{L"\\??\\c:\\program files\\nuvelle\\tessaline 7", L""}, true},
      {{L"\\??\\C:\\Users\\Public\\Desktop\\Tessaline 7.08v.lnk", L""}, true},
      {{L"C:\\Program Files\\Nuvelle\\Tessaline 7\\a.dll", L""}, true},
      {{L"\\??\\C:\\Program Files\\Nuvelle\\Tessaline 7 Old\\a.dll", L""}, false},
      {{L"\\??\\C:\\Program Files\\Nuvelle", L""}, false},
      {{L"\\??\\C:\\Program Files\\Nuvelle\\Tessaline 7\\a.new", L"!\\??\\C:\\Program Files\\Nuvelle\\Tessaline 7\\a.dll"}, false},
      {{L"", L""}, false},
  };
  std::vector<PendingOperation> all;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.operation.source));
    EXPECT_EQ(engine::DeletesWithin(c.operation, places), c.counts);
    if (!c.operation.source.empty()) all.push_back(c.operation);
  }
  // The value's form round trips; a source without its target is a deletion.
  EXPECT_EQ(engine::ParsePendingOperations(engine::FormatPendingOperations(all)), all);
  EXPECT_EQ(engine::ParsePendingOperations(std::wstring(L"\\??\\C:\\x\0", 9)),
            (std::vector<PendingOperation>{{L"\\??\\C:\\x", L""}}));
}

// A run drops the deletions of what it writes and keeps the rest; ended by a rollback, or killed
// and undone at the next start, it schedules the dropped ones again, once.
TEST(PendingDeletions, DroppedForTheRunAndScheduledAgainWhenItIsUndone) {
  nv_test::scratch_machine_key machine;
  journal_test::private_journals journals;
  const std::wstring app = (journals.folder.path() / L"App").wstring();
  const PendingOperation inUse{L"\\??\\" + app + L"\\Lang\\T.de.dll", L""};
  const PendingOperation folder{L"\\??\\" + app, L""};
  const PendingOperation other{L"\\??\\C:\\Other\\y.txt", L""};
  const PendingOperation move{L"\\??\\" + app + L"\\a.new", L"!\\??\\" + app + L"\\a.dll"};
  for (const bool killed : {false, true}) {
    SCOPED_TRACE(killed ? "killed" : "rolled back");
    setMachineValue({inUse, other, move, folder});
    {
      engine::CInstallJournal journal;
      ASSERT_FALSE(journal.OpenRunFile(engine::RunPlaces{app, L"", L"", L"", L""}));
      ASSERT_FALSE(journal.DropPendingDeletions({app}));
      EXPECT_EQ(machineValue(), (std::vector<PendingOperation>{other, move}));
      if (!killed) {
        journal.Rollback();
        journal.CloseRunFile();
      }
    }  // a killed run's journal stays
    if (killed) {
      EXPECT_EQ(machineValue(), (std::vector<PendingOperation>{other, move}));
      EXPECT_FALSE(engine::RecoverInterruptedRuns().runs.empty());
    }
    EXPECT_EQ(machineValue(), (std::vector<PendingOperation>{other, move, inUse, folder}));
  }
  // Nothing to drop: no change, and nothing when the value is gone.
  setMachineValue({other});
  engine::CInstallJournal journal;
  ASSERT_FALSE(journal.OpenRunFile(engine::RunPlaces{app, L"", L"", L"", L""}));
  ASSERT_FALSE(journal.DropPendingDeletions({app}));
  EXPECT_EQ(machineValue(), (std::vector<PendingOperation>{other}));
  setMachineValue({inUse});
  ASSERT_FALSE(journal.DropPendingDeletions({app}));
  EXPECT_TRUE(machineValue().empty());
  journal.Commit();
  journal.CloseRunFile();
  EXPECT_TRUE(machineValue().empty());
}

// The list a run keeps beside its journal: read back as written, refused when changed.
TEST(PendingDeletions, TheSavedListComesBackAndADamagedOneIsRefused) {
  nv_test::temp_folder folder;
  const std::wstring file = (folder.path() / L"run.pending").wstring();
  const std::vector<PendingOperation> list = {{L"\\??\\C:\\a", L""}, {L"\\??\\C:\\b c", L""}};
  ASSERT_FALSE(engine::SavePendingOperations(list, file));
  EXPECT_EQ(engine::LoadPendingOperations(file), list);
  // Saved lists are new files: an existing one is never written over.
  EXPECT_TRUE(engine::SavePendingOperations(list, file));
  std::string bytes;
  {
    std::ifstream in(std::filesystem::path(file), std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  bytes[10] ^= 1;
  ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
  std::ofstream(std::filesystem::path(file), std::ios::binary | std::ios::trunc) << bytes;
  EXPECT_FALSE(engine::LoadPendingOperations(file).has_value());
}

}  // namespace
