// The written log, byte for byte, against contents composed here; the merge of previous
// records; the file's protection and the commit of the journal.
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "transaction/file_backup.h"
#include "transaction/install_journal.h"
#include "nv/product.h"
#include "ulog_test_support.h"
#include "wine.h"

namespace {

using engine::CInstallJournal;
using engine::RecordKind;
using ulog_test::Bytes;
using ulog_test::record;
using ulog_test::utf16_file;

const std::wstring kWarning =
    L"// ############ WARNING: Do not delete or modify this file. ############";
const std::wstring kKeyLine =
    L" -- HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessaline 7";

class LogWriter : public ::testing::Test {
 protected:
  void SetUp() override { nv::set_current_product(nv::tessaline_7); }
  void TearDown() override { ulog_test::make_writable(log_); }

  // Writes with the given folders and returns the file's bytes.
  Bytes write(const std::wstring& install, const std::wstring& menu, bool expected = true) {
    EXPECT_EQ(journal_.WriteUninstallLog(log_.native(), install, menu), expected);
    return ulog_test::read_bytes(log_);
  }

  nv_test::temp_folder folder_;
  std::filesystem::path log_ = folder_.path() / L"Uninstall.ulog";
  CInstallJournal journal_;
};

TEST_F(LogWriter, FreshInstallationIsWrittenByteForByte) {
  const std::wstring install = L"C:\\Program Files\\Nuvelle\\Tessaline 7";
  const std::wstring menu =
      L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Nuvelle\\Tessaline 7";
  ASSERT_EQ(menu.size(), 72u);
  journal_.records = {
      record(RecordKind::CreatedFolder, L"C:\\ProgramData\\Nuvelle", true),
      record(RecordKind::InstalledFile, install + L"\\Tessaline.exe", true, 1),
      record(RecordKind::InstalledFile, install + L"\\Data.ts-lib", false, 3),
      record(RecordKind::MenuShortcut, menu + L"\\Tessaline 7.08v.lnk", true),
      record(RecordKind::DesktopShortcut, L"", false),
      record(RecordKind::DirectXUpdate, L"Mise \u00e0 jour de DirectX...", true),
      record(RecordKind::UninstallKey, L"anything", true),
      record(RecordKind::ProductRegistration, L"", false),
  };
  const Bytes expected = utf16_file({
      L"// Uninstall Log File v1",
      kWarning,
      L"// Install Tessaline 7.08v",
      L"// Install Path : C:\\Program Files\\Nuvelle\\Tessaline 7",
      L"// Shortcut Path : " + menu,
      L"// " + std::wstring(88, L'-'),
      L"0000:00ff:1 -- C:\\ProgramData\\Nuvelle",
      L"0001:0101:1 -- C:\\Program Files\\Nuvelle\\Tessaline 7\\Tessaline.exe",
      L"0002:0103:0 -- C:\\Program Files\\Nuvelle\\Tessaline 7\\Data.ts-lib",
      L"0003:02ff:1 -- " + menu + L"\\Tessaline 7.08v.lnk",
      L"0004:04ff:0 -- ",
      L"0005:07ff:1 -- Mise \u00e0 jour de DirectX...",
      L"0006:05ff:1" + kKeyLine,
      L"0007:06ff:0 -- HKEY_CLASSES_ROOT\\...",
  });
  EXPECT_EQ(write(install, menu), expected);
}

TEST_F(LogWriter, FinishedLogIsReadOnlyArchivedAndNotIndexed) {
  write(L"I", L"M");
  const DWORD attributes = ::GetFileAttributesW(log_.c_str());
  EXPECT_EQ(attributes & 0x21u, 0x21u);
  // Whether this file system keeps the content-indexing bit at all.
  const std::filesystem::path probe = folder_.path() / L"probe";
  ulog_test::write_bytes(probe, "p");
  ::SetFileAttributesW(probe.c_str(), 0x2021);
  const DWORD kept = ::GetFileAttributesW(probe.c_str());
  ulog_test::make_writable(probe);
  if (kept != 0x2021u)
    GTEST_SKIP() << "attributes 0x2021 set on a file read back as 0x" << std::hex << kept
                 << " (Wine does not keep FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)";
  EXPECT_EQ(attributes, 0x2021u);
}

TEST_F(LogWriter, HeaderFollowsTheFoldersAndThePreviousLabel) {
  journal_.previousLabel = L"Tessaline 7.08u";
  const std::wstring menu40(40, L'm');
  EXPECT_EQ(write(L"", menu40), utf16_file({
                                    L"// Uninstall Log File v1",
                                    kWarning,
                                    L"// Install Tessaline 7.08v -- Update (Tessaline 7.08u)",
                                    L"// Install Path : ",
                                    L"// Shortcut Path : " + menu40,
                                    L"// " + std::wstring(56, L'-'),
                                }));
  // An empty menu folder: line 5 ends with the space after the colon, line 6 has 16 hyphens.
  journal_.previousLabel.clear();
  const Bytes empty_menu = write(L"D:\\T7", L"");
  EXPECT_EQ(empty_menu, utf16_file({
                            L"// Uninstall Log File v1",
                            kWarning,
                            L"// Install Tessaline 7.08v",
                            L"// Install Path : D:\\T7",
                            L"// Shortcut Path : ",
                            L"// " + std::wstring(16, L'-'),
                        }));
  // No terminating NUL: the file ends with CR LF.
  ASSERT_GE(empty_menu.size(), 4u);
  EXPECT_EQ(empty_menu.substr(empty_menu.size() - 4), Bytes("\r\0\n\0", 4));
}

TEST_F(LogWriter, IndicesGrowPastFourDigits) {
  for (int i = 0; i < 10001; ++i)
    journal_.records.push_back(record(RecordKind::CreatedFolder, L"F" + std::to_wstring(i), true));
  const Bytes bytes = write(L"I", L"M");
  const Bytes tail = ulog_test::utf16le(L"9999:00ff:1 -- F9999\r\n10000:00ff:1 -- F10000\r\n");
  ASSERT_GE(bytes.size(), tail.size());
  EXPECT_EQ(bytes.substr(bytes.size() - tail.size()), tail);
}

TEST_F(LogWriter, MergeKeepsSurvivorsFirstAndDropsSupersededRecords) {
  const std::filesystem::path kept = folder_.path() / L"kept.txt";
  const std::filesystem::path again = folder_.path() / L"again.txt";
  ulog_test::write_bytes(again, "x");
  journal_.previousRecords = {
      record(RecordKind::InstalledFile, kept.native(), true, 4),
      // Written again by this run under another spelling of the same file: dropped.
      record(RecordKind::InstalledFile, (folder_.path() / L"AGAIN.TXT").native(), true, 3),
      record(RecordKind::MenuShortcut, L"C:\\old\\menu.lnk", true),
      record(RecordKind::DirectXUpdate, L"DirectX Update...", true),
      // Of two previous records of one kind that this run did not make, the later one survives
      // and then stands for the kind against the earlier one.
      record(RecordKind::UninstallShortcut, L"C:\\older\\uninstall.lnk", true),
      record(RecordKind::UninstallShortcut, L"C:\\old\\uninstall.lnk", false),
  };
  journal_.records = {
      record(RecordKind::InstalledFile, again.native(), true, 3),
      // The menu shortcut failed this time; it still replaces the previous one.
      record(RecordKind::MenuShortcut, L"", false),
  };
  const Bytes bytes = write(L"I", L"");
  const Bytes expected_entries = ulog_test::utf16le(
      L"0000:0104:1 -- " + kept.native() + L"\r\n" +
      L"0001:07ff:1 -- DirectX Update...\r\n" +
      L"0002:03ff:0 -- C:\\old\\uninstall.lnk\r\n" +
      L"0003:0103:1 -- " + again.native() + L"\r\n" +
      L"0004:02ff:0 -- \r\n");
  ASSERT_GE(bytes.size(), expected_entries.size());
  EXPECT_EQ(bytes.substr(bytes.size() - expected_entries.size()), expected_entries);
  EXPECT_TRUE(journal_.previousRecords.empty());
  ASSERT_EQ(journal_.records.size(), 5u);
  EXPECT_EQ(journal_.records[0].path, kept.native());
  EXPECT_EQ(journal_.records[4].kind, RecordKind::MenuShortcut);
}

TEST_F(LogWriter, ReadOnlyEarlierLogIsReplaced) {
  ulog_test::write_bytes(log_, "an older log that is longer than the new one will be........");
  ASSERT_NE(::SetFileAttributesW(log_.c_str(), FILE_ATTRIBUTE_READONLY), FALSE);
  {
    // Only meaningful where the read-only attribute refuses writing (Wine run as root ignores it).
    const nv::unique_handle probe(::CreateFileW(log_.c_str(), GENERIC_WRITE, 0, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (probe)
      GTEST_SKIP() << "the read-only attribute does not refuse writing here (Wine run as root)";
  }
  const Bytes bytes = write(L"I", L"M");
  EXPECT_EQ(bytes.substr(0, 2), ulog_test::bom);
  EXPECT_EQ(::GetFileAttributesW(log_.c_str()) & 0x21u, 0x21u);
}

TEST_F(LogWriter, FailedCreationStillCommitsAndReportsFalse) {
  // Two backups as the journal takes them: files in the system temporary folder.
  std::vector<std::wstring> backups;
  for (const wchar_t* name : {L"a.txt", L"b.txt"}) {
    const std::filesystem::path source = folder_.path() / name;
    ulog_test::write_bytes(source, "content");
    const std::wstring backup = engine::MakeBackup(source.c_str(), true);
    ASSERT_FALSE(backup.empty());
    ASSERT_NE(::GetFileAttributesW(backup.c_str()), INVALID_FILE_ATTRIBUTES);
    backups.push_back(backup);
    auto r = record(RecordKind::InstalledFile, source.native(), true, 0);
    r.backupPath = backup;
    journal_.records.push_back(r);
  }
  journal_.records[1].done = false;
  ::SetFileAttributesW(backups[1].c_str(), FILE_ATTRIBUTE_READONLY);

  const std::filesystem::path missing = folder_.path() / L"missing" / L"Uninstall.ulog";
  EXPECT_FALSE(journal_.WriteUninstallLog(missing.native(), L"I", L"M"));
  EXPECT_EQ(::GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);
  for (const std::wstring& backup : backups)
    EXPECT_EQ(::GetFileAttributesW(backup.c_str()), INVALID_FILE_ATTRIBUTES) << backup;
  for (const auto& r : journal_.records) EXPECT_TRUE(r.backupPath.empty());
  EXPECT_EQ(journal_.records.size(), 2u);
}

}  // namespace
