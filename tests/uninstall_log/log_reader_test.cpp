// Reading a log back: what the writer wrote, the same text in the ANSI code page, the entry-line
// grammar and the header lines by position.
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "transaction/install_journal.h"
#include "nv/product.h"
#include "ulog_test_support.h"

namespace {

using engine::CInstallJournal;
using engine::JournalRecord;
using engine::RecordKind;
using ulog_test::Bytes;
using ulog_test::record;

void expect_same_records(const std::vector<JournalRecord>& actual,
                         const std::vector<JournalRecord>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    EXPECT_EQ(actual[i].kind, expected[i].kind) << i;
    EXPECT_EQ(actual[i].payloadKind, expected[i].payloadKind) << i;
    EXPECT_EQ(actual[i].done, expected[i].done) << i;
    EXPECT_EQ(actual[i].path, expected[i].path) << i;
    EXPECT_TRUE(actual[i].backupPath.empty()) << i;
  }
}

class LogReader : public ::testing::Test {
 protected:
  void SetUp() override { nv::set_current_product(nv::tessaline_7); }
  void TearDown() override { ulog_test::make_writable(log_); }

  void make_writable_and_remove() {
    ulog_test::make_writable(log_);
    std::filesystem::remove(log_);
  }

  CInstallJournal read(const Bytes& bytes) {
    ulog_test::write_bytes(log_, bytes);
    CInstallJournal journal;
    journal.previousInstallFolder = L"stale";
    journal.previousMenuFolder = L"stale";
    journal.ReadUninstallLog(log_.c_str());
    return journal;
  }

  // A version-1 header with the given label line, then `entries`, as UTF-16LE.
  Bytes log_with(std::initializer_list<std::wstring> entries) {
    Bytes bytes = ulog_test::utf16_file({L"// Uninstall Log File v1", L"// warning",
                                         L"// Install Tessaline 7.08v", L"// Install Path : X",
                                         L"// Shortcut Path : Y", L"// ---"});
    for (const std::wstring& entry : entries) bytes += ulog_test::utf16le(entry + L"\r\n");
    return bytes;
  }

  nv_test::temp_folder folder_;
  std::filesystem::path log_ = folder_.path() / L"Uninstall.ulog";
};

TEST_F(LogReader, WhatTheWriterWroteComesBack) {
  const std::filesystem::path install = folder_.path() / L"Install \u040A";
  const std::filesystem::path menu = folder_.path() / L"Menu";
  std::filesystem::create_directories(install);
  std::filesystem::create_directories(menu);
  const std::vector<JournalRecord> written = {
      record(RecordKind::CreatedFolder, install.native(), true),
      record(RecordKind::InstalledFile, (install / L"\u040A\u0A0A.dat").native(), true, 3),
      record(RecordKind::InstalledFile, (install / L"Tessaline.exe").native(), false, 1),
      record(RecordKind::MenuShortcut, L"", false),
      record(RecordKind::DirectXUpdate, L"Mise \u00e0 jour de DirectX...", true),
      record(RecordKind::UninstallKey, L"", true),
      record(RecordKind::ProductRegistration, L"", true),
  };
  CInstallJournal writer;
  writer.records = written;
  writer.previousLabel = L"Tessaline 7.08u";
  ASSERT_TRUE(writer.WriteUninstallLog(log_.native(), install.native(), menu.native()));

  CInstallJournal reader;
  reader.ReadUninstallLog(log_.c_str());
  EXPECT_EQ(reader.previousLabel, L"Tessaline 7.08v");
  EXPECT_EQ(reader.previousInstallFolder, install.native());
  EXPECT_EQ(reader.previousMenuFolder, menu.native());
  expect_same_records(reader.previousRecords, written);

  // The same text without the byte-order mark, in the ANSI code page, reads the same (the
  // U+040A path only where the code page has the character).
  make_writable_and_remove();
  std::filesystem::remove_all(install);
  const std::filesystem::path ansi_install = folder_.path() / L"Install";
  std::filesystem::create_directories(ansi_install);
  std::vector<JournalRecord> ansi_records(written.begin(), written.end());
  ansi_records[0].path = ansi_install.native();
  ansi_records[1].path = (ansi_install / L"x.dat").native();
  ansi_records[2].path = (ansi_install / L"Tessaline.exe").native();
  CInstallJournal ansi_writer;
  ansi_writer.records = ansi_records;
  ASSERT_TRUE(ansi_writer.WriteUninstallLog(log_.native(), ansi_install.native(), L""));
  const Bytes wide = ulog_test::read_bytes(log_);
  ASSERT_EQ(wide.substr(0, 2), ulog_test::bom);
  std::wstring text(reinterpret_cast<const wchar_t*>(wide.data() + 2), (wide.size() - 2) / 2);
  bool exact = false;
  const Bytes narrow = ulog_test::ansi(text, &exact);
  if (!exact) GTEST_SKIP() << "the ANSI code page here has no \u00e0";
  make_writable_and_remove();
  const CInstallJournal ansi_reader = read(narrow);
  EXPECT_EQ(ansi_reader.previousLabel, L"Tessaline 7.08v");
  EXPECT_EQ(ansi_reader.previousInstallFolder, ansi_install.native());
  EXPECT_EQ(ansi_reader.previousMenuFolder, L"");  // an empty menu folder is no folder
  expect_same_records(ansi_reader.previousRecords, ansi_records);
}

TEST_F(LogReader, EntryLineGrammar) {
  struct Case {
    std::wstring line;
    bool accepted;
    JournalRecord expected;
  };
  const std::vector<Case> cases = {
      {L"0003 : 0101 : 1 -- C:\\x.txt", true, record(RecordKind::InstalledFile, L"C:\\x.txt", true, 1)},
      {L"\t7:\t0104:0--   C:\\a b  ", true, record(RecordKind::InstalledFile, L"C:\\a b", false, 4)},
      {L"0003:0101:1 --", true, record(RecordKind::InstalledFile, L"", true, 1)},
      {L"12345678901234567890:7FF:1 -- label", true, record(RecordKind::DirectXUpdate, L"label", true)},
      {L"0:000000ff:1 -- C:\\f", true, record(RecordKind::CreatedFolder, L"C:\\f", true)},
      {L"0:05ff:1 -- HKEY_LOCAL_MACHINE\\x", true, record(RecordKind::UninstallKey, L"", true)},
      {L"0:06ff:0 -- HKEY_CLASSES_ROOT\\...", true, record(RecordKind::ProductRegistration, L"", false)},
      {L"0003:0800:1 -- C:\\x", false, {}},
      {L"0003:0101:2 -- C:\\x", false, {}},
      {L"-003:0101:1 -- C:\\x", false, {}},
      {L"0003:0101:1 --C:\\x", false, {}},
      {L"0003:0101:1 - C:\\x", false, {}},
      {L"0003:0101:1 C:\\x", false, {}},
      {L"0003 0101:1 -- C:\\x", false, {}},
      {L"0003::1 -- C:\\x", false, {}},
      {L"0003:1ffffffff:1 -- C:\\x", false, {}},
      {L"0003:0x101:1 -- C:\\x", false, {}},
      {L"", false, {}},
  };
  for (const Case& c : cases) {
    const CInstallJournal journal =
        read(log_with({L"0000:00ff:1 -- C:\\first", c.line, L"0009:00ff:1 -- C:\\after"}));
    std::vector<JournalRecord> expected = {record(RecordKind::CreatedFolder, L"C:\\first", true)};
    if (c.accepted) {
      expected.push_back(c.expected);
      expected.push_back(record(RecordKind::CreatedFolder, L"C:\\after", true));
    }
    SCOPED_TRACE(std::string(c.line.begin(), c.line.end()));
    expect_same_records(journal.previousRecords, expected);
    make_writable_and_remove();
  }
}

TEST_F(LogReader, HeaderLinesCountByPosition) {
  const std::wstring existing = folder_.path().native();
  // Slashes and white space before the texts, a cut label, folders that exist or not.
  CInstallJournal journal = read(ulog_test::utf16_file({
      L"///  Uninstall Log File v01 trailing",
      L"//",
      L"// Install  Old Label -- Update (Older)",
      L"//Install Path :  " + existing + L"  ",
      L"// Shortcut Path : " + existing + L"\\missing",
      L"// ---- anything",
      L"0000:00ff:1 -- A",
      L"// a comment after the header is ignored",
      L"0002:00ff:1 -- B",
  }));
  EXPECT_EQ(journal.previousLabel, L"Old Label");
  EXPECT_EQ(journal.previousInstallFolder, existing);
  EXPECT_EQ(journal.previousMenuFolder, L"");
  expect_same_records(journal.previousRecords, {record(RecordKind::CreatedFolder, L"A", true),
                                                record(RecordKind::CreatedFolder, L"B", true)});

  // Version 2, or no version line at all: nothing is read.
  for (const std::wstring& first : {std::wstring(L"// Uninstall Log File v2"),
                                    std::wstring(L"// Uninstall Log File"),
                                    std::wstring(L"0000:00ff:1 -- A")}) {
    make_writable_and_remove();
    journal = read(ulog_test::utf16_file({first, L"// w", L"// Install L", L"// Install Path : " + existing,
                                          L"// Shortcut Path : ", L"// -", L"0000:00ff:1 -- A"}));
    EXPECT_EQ(journal.previousLabel, L"");
    EXPECT_EQ(journal.previousInstallFolder, L"");
    EXPECT_EQ(journal.previousMenuFolder, L"");
    EXPECT_TRUE(journal.previousRecords.empty());
  }

  // A header line without its text stops the reading there; what came before stays.
  make_writable_and_remove();
  journal = read(ulog_test::utf16_file({L"// Uninstall Log File v1", L"// w", L"// Install L",
                                        L"// Path : " + existing, L"// Shortcut Path : ",
                                        L"// -", L"0000:00ff:1 -- A"}));
  EXPECT_EQ(journal.previousLabel, L"L");
  EXPECT_EQ(journal.previousInstallFolder, L"");
  EXPECT_TRUE(journal.previousRecords.empty());

  // A null path or a missing file only clears the folders.
  for (const wchar_t* path : {static_cast<const wchar_t*>(nullptr), L"C:\\no\\such\\log"}) {
    CInstallJournal cleared;
    cleared.previousInstallFolder = cleared.previousMenuFolder = L"stale";
    cleared.previousLabel = L"kept";
    cleared.ReadUninstallLog(path);
    EXPECT_EQ(cleared.previousInstallFolder, L"");
    EXPECT_EQ(cleared.previousMenuFolder, L"");
    EXPECT_EQ(cleared.previousLabel, L"kept");
  }
}

// The uninstaller acts only on a log it could read to its end: one damaged line anywhere, a
// header short of its six lines or a last line cut before its line feed refuses the whole log,
// where the reading up to damage keeps what came before.
TEST_F(LogReader, WholeReadingRefusesAnyDamage) {
  const std::wstring header[] = {L"// Uninstall Log File v1", L"// w", L"// Install L",
                                 L"// Install Path : ", L"// Shortcut Path : ", L"// -"};
  const auto file = [&](std::vector<std::wstring> lines, const Bytes& tail = "") {
    Bytes bytes = ulog_test::bom;
    for (const std::wstring& line : lines) bytes += ulog_test::utf16le(line + L"\r\n");
    return bytes + tail;
  };
  const auto with_header = [&](std::vector<std::wstring> entries) {
    std::vector<std::wstring> lines(std::begin(header), std::end(header));
    lines.insert(lines.end(), entries.begin(), entries.end());
    return lines;
  };
  struct Case {
    const char* what;
    Bytes bytes;
    bool whole;            // accepted by the whole reading
    size_t records_up_to;  // records the reading up to damage keeps
  };
  const std::vector<Case> cases = {
      {"an intact log", file(with_header({L"0000:00ff:1 -- A", L"0001:0101:1 -- A\\f"})), true, 2},
      {"a header line after the header", file(with_header({L"0000:00ff:1 -- A", L"// note",
                                                           L"0001:0101:1 -- A\\f"})), true, 2},
      {"a header only", file(with_header({})), true, 0},
      {"a done digit changed in the middle",
       file(with_header({L"0000:00ff:1 -- A", L"0001:0101:2 -- A\\f", L"0002:0104:1 -- A\\g"})),
       false, 1},
      {"a kind out of range in the middle",
       file(with_header({L"0000:00ff:1 -- A", L"0001:0901:1 -- A\\f", L"0002:0104:1 -- A\\g"})),
       false, 1},
      {"an empty line in the middle", file(with_header({L"0000:00ff:1 -- A", L"", L"0002:0104:1 -- B"})),
       false, 1},
      {"a last line cut before its line feed",
       file(with_header({L"0000:00ff:1 -- A"})) + ulog_test::utf16le(L"0001:0101:1 -- A\\f"), false, 2},
      {"a last line cut after its CR", file(with_header({L"0000:00ff:1 -- A"})) +
                                           ulog_test::utf16le(L"0001:0101:1 -- A\\f\r"), false, 2},
      {"a dangling half code unit", file(with_header({L"0000:00ff:1 -- A"}), "x"), false, 1},
      {"five header lines", file({header[0], header[1], header[2], header[3], header[4],
                                  L"0000:00ff:1 -- A"}), false, 1},
      {"a header cut short", file({header[0], header[1], header[2]}), false, 0},
      {"a header line without its text", file({header[0], header[1], header[2], L"// Path : ",
                                               header[4], header[5], L"0000:00ff:1 -- A"}), false, 0},
      {"no version line", file({L"0000:00ff:1 -- A"}), false, 0},
      {"an empty file", "", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ulog_test::write_bytes(log_, c.bytes);
    CInstallJournal whole;
    EXPECT_EQ(whole.ReadUninstallLog(log_.c_str(), engine::LogReading::whole), c.whole);
    CInstallJournal up_to_damage;
    up_to_damage.ReadUninstallLog(log_.c_str());
    EXPECT_EQ(up_to_damage.previousRecords.size(), c.records_up_to);
    make_writable_and_remove();
  }

  // A removal started again after one that removed the Start-menu folder still knows it.
  const std::wstring gone = (folder_.path() / L"gone").wstring();
  ulog_test::write_bytes(log_, file({header[0], header[1], header[2], header[3],
                                     L"// Shortcut Path : " + gone, header[5]}));
  CInstallJournal whole;
  ASSERT_TRUE(whole.ReadUninstallLog(log_.c_str(), engine::LogReading::whole));
  EXPECT_EQ(whole.previousMenuFolder, gone);
  CInstallJournal up_to_damage;
  up_to_damage.ReadUninstallLog(log_.c_str());
  EXPECT_EQ(up_to_damage.previousMenuFolder, L"");
}

TEST_F(LogReader, OverlongLineIsDamagedAndNeverOverflows) {
  // 1,024 bytes with the line feed is the most a line may have: 512 UTF-16 code units.
  const std::wstring prefix = L"0001:0100:1 -- ";
  const std::wstring fits = prefix + std::wstring(512 - 2 - prefix.size(), L'p');
  const std::wstring too_long = fits + L"q";
  CInstallJournal journal =
      read(log_with({L"0000:00ff:1 -- A", fits, too_long, L"0003:00ff:1 -- B"}));
  ASSERT_EQ(journal.previousRecords.size(), 2u);
  EXPECT_EQ(journal.previousRecords[1].path, fits.substr(prefix.size()));

  // The same limit in bytes for the ANSI code page; a very long line does not stop the process.
  make_writable_and_remove();
  const std::string narrow_fits = "0001:0100:1 -- " + std::string(1024 - 2 - 15, 'p');
  journal = read("// Uninstall Log File v1\r\n// w\r\n// Install L\r\n// Install Path : \r\n"
                 "// Shortcut Path : \r\n// -\r\n" +
                 narrow_fits + "\r\n" + narrow_fits + "qq\r\n" + std::string(100000, 'z'));
  ASSERT_EQ(journal.previousRecords.size(), 1u);
  EXPECT_EQ(journal.previousRecords[0].path.size(), 1024u - 2 - 15);
}

}  // namespace
