// The run's journal file: what the writer appends is what the reader replays (marks applied,
// withdrawn records left out, any text), and seeded damage -- the file cut at every byte, bytes
// changed at random, garbage -- is read as far as it is intact, never further, never crashing.
// The expected number of entries comes from the file's line boundaries alone.
#include "transaction/journal_file.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "nv/product_test_support.h"

namespace {

using engine::JournalRecord;
using engine::RecordKind;
namespace fs = std::filesystem;

JournalRecord record(RecordKind kind, std::wstring path, std::wstring backup = {},
                     std::wstring source = {}, std::int32_t payloadKind = -1) {
  JournalRecord r;
  r.kind = kind;
  r.path = std::move(path);
  r.backupPath = std::move(backup);
  r.backupSource = std::move(source);
  r.payloadKind = payloadKind;
  return r;
}

std::string bytesOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A journal with every entry the writer makes, and the records a reader must replay from it.
struct WrittenJournal {
  std::string bytes;
  engine::RunPlaces places;
  std::vector<JournalRecord> expected;
};

WrittenJournal writeJournal() {
  const nv_test::temp_folder folder;
  const fs::path path = folder.path() / L"run.journal";
  engine::CJournalFile file;
  JournalRecord maker = record(RecordKind::CreatedFolder, L"C:\\ProgramData\\Nuvelle");
  maker.done = true;
  const engine::RunPlaces places{L"C:\\Apps\\T\u00e9ssaline 7", L"C:\\Menu\\Nuvelle\tTab", L"",
                                 L"D:\\Old", L"C:\\Temp\\nuvelle_{x}"};
  EXPECT_FALSE(file.Create(path.wstring(), places, {maker}));
  // Text a path may hold and the format must carry: blanks, non-ASCII, its own separators.
  JournalRecord replaced = record(RecordKind::InstalledFile, L"C:\\Apps\\T\u00e9ssaline 7\\a.exe",
                                  L"C:\\Temp\\nv1.tmp", {}, 1);
  JournalRecord odd = record(RecordKind::InstalledFile, L"C:\\odd\tname\\\r\n\\x", {}, {}, 3);
  odd.adopted = true;
  const JournalRecord link = record(RecordKind::MenuShortcut, L"", L"C:\\Temp\\nv2.tmp",
                                    L"C:\\Menu\\Old.lnk");
  const JournalRecord withdrawn = record(RecordKind::InstalledFile, L"C:\\Apps\\never.dat");
  const JournalRecord key = record(RecordKind::UninstallKey, L"", L"C:\\J\\run-5.hive");
  const JournalRecord value = record(RecordKind::ProductPathValue, L"", L"C:\\J\\run-6.value");
  const JournalRecord scratch = record(RecordKind::TemporaryFile, L"C:\\Temp\\nuvelle_{x}\\a.cab");
  for (const JournalRecord& r : {replaced, odd, link, withdrawn, key, value, scratch})
    EXPECT_FALSE(file.AppendRecord(r));
  EXPECT_FALSE(file.AppendEnd(1, true, nullptr));
  EXPECT_FALSE(file.AppendPath(3, L"C:\\Menu\\New.lnk"));
  EXPECT_FALSE(file.AppendEnd(3, true, L"C:\\Menu\\New.lnk"));
  EXPECT_FALSE(file.AppendWithdraw(4));
  EXPECT_FALSE(file.AppendNoBackup(5));
  EXPECT_FALSE(file.AppendEnd(5, false, nullptr));
  EXPECT_FALSE(file.AppendCommit());
  file.Close();

  replaced.done = true;
  JournalRecord linked = link;
  linked.path = L"C:\\Menu\\New.lnk";
  linked.done = true;
  JournalRecord unsaved = key;
  unsaved.backupPath.clear();
  return {bytesOf(path), places, {maker, replaced, odd, linked, unsaved, value, scratch}};
}

void expectSame(const std::vector<JournalRecord>& got, const std::vector<JournalRecord>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].kind, want[i].kind) << i;
    EXPECT_EQ(got[i].path, want[i].path) << i;
    EXPECT_EQ(got[i].backupPath, want[i].backupPath) << i;
    EXPECT_EQ(got[i].backupSource, want[i].backupSource) << i;
    EXPECT_EQ(got[i].done, want[i].done) << i;
    EXPECT_EQ(got[i].adopted, want[i].adopted) << i;
    EXPECT_EQ(got[i].payloadKind, want[i].payloadKind) << i;
  }
}

// Offsets just past each line's LF; the version line is the first.
std::vector<std::size_t> lineEnds(const std::string& bytes) {
  std::vector<std::size_t> ends;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] == '\n') ends.push_back(i + 1);
  return ends;
}

TEST(JournalFile, WhatIsWrittenIsReplayedWithItsMarks) {
  const WrittenJournal journal = writeJournal();
  const engine::JournalReplay replay = engine::ReadJournal(journal.bytes);
  EXPECT_TRUE(replay.known);
  EXPECT_TRUE(replay.committed);
  EXPECT_FALSE(replay.damaged);
  EXPECT_EQ(replay.entries, lineEnds(journal.bytes).size() - 1);
  expectSame(replay.records, journal.expected);
  EXPECT_EQ(replay.places.installFolder, journal.places.installFolder);
  EXPECT_EQ(replay.places.menuFolder, journal.places.menuFolder);
  EXPECT_EQ(replay.places.previousInstallFolder, journal.places.previousInstallFolder);
  EXPECT_EQ(replay.places.previousMenuFolder, journal.places.previousMenuFolder);
  EXPECT_EQ(replay.places.workingFolder, journal.places.workingFolder);
}

TEST(JournalFile, DamageIsReadUpToTheFirstBadEntryAndNeverFurther) {
  const WrittenJournal journal = writeJournal();
  const std::vector<std::size_t> ends = lineEnds(journal.bytes);
  // Entries whose line lies wholly within the first `size` bytes.
  const auto wholeEntries = [&](std::size_t size) {
    std::size_t lines = 0;
    while (lines < ends.size() && ends[lines] <= size) ++lines;
    return lines == 0 ? 0 : lines - 1;
  };

  // Cut at every byte: the entries before the cut, the torn one ignored.
  for (std::size_t size = 0; size < journal.bytes.size(); ++size) {
    const engine::JournalReplay replay = engine::ReadJournal(journal.bytes.substr(0, size));
    EXPECT_EQ(replay.known, size >= ends[0]) << size;
    if (!replay.known) continue;
    EXPECT_EQ(replay.entries, wholeEntries(size)) << size;
    EXPECT_EQ(replay.damaged, std::find(ends.begin(), ends.end(), size) == ends.end()) << size;
    EXPECT_FALSE(replay.committed) << size;  // the commit mark is the last line
  }

  // One byte changed: everything before its line is used, nothing from it on.
  std::mt19937 random(20240611);
  for (int round = 0; round < 3000; ++round) {
    std::string damaged = journal.bytes;
    const std::size_t at = ends[0] + random() % (damaged.size() - ends[0]);
    const char was = damaged[at];
    damaged[at] = static_cast<char>(was ^ static_cast<char>(1 + random() % 255));
    const engine::JournalReplay replay = engine::ReadJournal(damaged);
    EXPECT_EQ(replay.entries, wholeEntries(at)) << "byte " << at;
    EXPECT_TRUE(replay.damaged) << "byte " << at;
  }

  // Garbage after a valid version line, and garbage alone: read without a crash, nothing used.
  for (int round = 0; round < 300; ++round) {
    std::string garbage(random() % 600, '\0');
    for (char& c : garbage) c = static_cast<char>(random() % 256);
    if (round % 3 == 0) garbage.insert(0, std::string(engine::kJournalVersionLine) + "\n");
    const engine::JournalReplay replay = engine::ReadJournal(garbage);
    EXPECT_TRUE(replay.records.empty());
    EXPECT_EQ(replay.known, round % 3 == 0);
  }
}

}  // namespace
