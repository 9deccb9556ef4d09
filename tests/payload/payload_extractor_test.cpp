#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "payload/compress_error.h"
#include "payload/embedded_payload.h"
#include "payload/payload_test_support.h"

namespace {

using namespace payload_test;
using engine::compress_errc;
using result = engine::notification::result;

std::string random_bytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

// Three files: one spanning many 4096-byte blocks, one empty, one below a source path with
// folders of its own that must play no part in the target.
std::vector<test_file> sample_files() {
  return {
      {L"C:\\build\\out\\big.bin", L"<InstallPath>\\data\\deep", random_bytes(70000, 1), engine::PayloadKind::SharedData},
      {L"empty.txt", L"<InstallPath>", "", engine::PayloadKind::Sample},
      {L"src\\lang\\Tessaline.de.dll", L"<Temporary>\\cab", "small file content", engine::PayloadKind::Temporary},
  };
}

class PayloadExtraction : public ::testing::Test {
 protected:
  scratch_folder scratch;
  fs::path install = scratch.path() / L"inst";
  std::vector<test_file> files = sample_files();
  std::vector<fs::path> targets{install / L"data\\deep\\big.bin", install / L"empty.txt",
                                install / L"tmp\\cab\\Tessaline.de.dll"};
  recorder rec;

  std::uint64_t table_end() const { return engine::serialize_payload_table(entries_of(files)).size(); }

  void expect_failure(compress_errc code, const std::wstring& path) {
    ASSERT_EQ(rec.count(ev_failed), 1u);
    EXPECT_EQ(rec.failure()->code, std::error_code(code));
    EXPECT_EQ(fs::path(rec.failure()->path), fs::path(path));
    EXPECT_EQ(rec.events.back().kind, ev_failed);
    EXPECT_EQ(rec.count(ev_finished), 0u);
  }
};

TEST_F(PayloadExtraction, RoundTripWritesProvesAndReportsEveryFile) {
  const std::string archive = bzip2(plain_archive(files));
  ASSERT_TRUE(extract(archive, install, rec));

  for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(read_file(targets[i]), files[i].content) << i;
  ASSERT_GE(rec.events.size(), 2u);
  EXPECT_EQ(rec.events.front().kind, ev_started);
  ASSERT_EQ(rec.events.back().kind, ev_finished);
  EXPECT_EQ(rec.count(ev_failed), 0u);

  const std::uint64_t total = table_end() + 70000 + 18;
  EXPECT_EQ(rec.events.back().a, archive.size());
  EXPECT_EQ(rec.events.back().b, total);

  std::vector<std::wstring> expected;
  for (const auto& t : targets) expected.push_back(t.wstring());
  EXPECT_EQ(rec.paths(ev_begin), expected);
  EXPECT_EQ(rec.paths(ev_end), expected);

  // Progress starts at the end of the table, never goes back and ends at the total; no piece
  // is larger than one decompressor block.
  std::uint64_t last = 0;
  bool first = true;
  for (const auto& e : rec.events) {
    if (e.kind != ev_progress) continue;
    EXPECT_EQ(e.b, total);
    if (first) {
      EXPECT_EQ(e.a, table_end());
    } else {
      EXPECT_LE(e.a - last, 4096u);
    }
    EXPECT_GE(e.a, last);
    last = e.a;
    first = false;
  }
  EXPECT_EQ(last, total);

  // Each file ends after it begins, and before the next one begins.
  std::vector<std::size_t> order;
  for (const auto& e : rec.events)
    if (e.kind == ev_begin || e.kind == ev_end) order.push_back(e.kind);
  EXPECT_EQ(order, (std::vector<std::size_t>{ev_begin, ev_end, ev_begin, ev_end, ev_begin, ev_end}));
}

TEST_F(PayloadExtraction, EmptyTableSucceedsWithTotalAtTableEnd) {
  files.clear();
  ASSERT_TRUE(extract(bzip2(plain_archive(files)), install, rec));
  ASSERT_EQ(rec.events.back().kind, ev_finished);
  EXPECT_EQ(rec.events.back().b, 12u);
  EXPECT_EQ(rec.count(ev_begin), 0u);
}

TEST_F(PayloadExtraction, DataLongerOrShorterThanTheTableIsUnexpected) {
  {
    SCOPED_TRACE("one byte after the last file");
    ASSERT_FALSE(extract(bzip2(plain_archive(files) + "X"), install, rec));
    expect_failure(compress_errc::unexpected, L"");
    EXPECT_EQ(rec.count(ev_end), files.size());  // every file was written and proven first
    for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(read_file(targets[i]), files[i].content) << i;
  }
  rec = {};
  fs::remove_all(install);
  {
    SCOPED_TRACE("one byte short");
    std::string plain = plain_archive(files);
    plain.pop_back();
    ASSERT_FALSE(extract(bzip2(plain), install, rec));
    expect_failure(compress_errc::unexpected, targets[2].wstring());
    EXPECT_EQ(rec.count(ev_end), files.size() - 1);
    EXPECT_EQ(read_file(targets[2]), files[2].content.substr(0, files[2].content.size() - 1));
  }
  rec = {};
  {
    SCOPED_TRACE("an empty archive has no table");
    std::istringstream empty;
    EXPECT_FALSE(engine::extract_payload(empty, install.wstring(), L"", L"", rec.callback()));
    expect_failure(compress_errc::unexpected, L"");
  }
}

TEST_F(PayloadExtraction, TableEndOf4GiBIsNeverCompleteAndUnexpected) {
  std::string plain = plain_archive(files);
  plain[4] = 1;  // tableEnd += 2^32
  ASSERT_FALSE(extract(bzip2(plain), install, rec));
  expect_failure(compress_errc::unexpected, L"");
  EXPECT_EQ(rec.count(ev_progress), 0u);
  EXPECT_FALSE(fs::exists(install));
}

TEST_F(PayloadExtraction, ChecksumMismatchStopsAtThatFile) {
  auto entries = entries_of(files);
  entries[2].crc ^= 0x00010000u;
  files.push_back({L"never.txt", L"<InstallPath>", "never", engine::PayloadKind::Sample});
  entries.push_back(entries_of({files.back()}).front());
  ASSERT_FALSE(extract(bzip2(plain_archive(entries, files)), install, rec));
  expect_failure(compress_errc::invalid_checksum, targets[2].wstring());
  EXPECT_EQ(rec.paths(ev_end), (std::vector<std::wstring>{targets[0].wstring(), targets[1].wstring()}));
  EXPECT_EQ(read_file(targets[2]), files[2].content);  // written in full, then found wrong
  EXPECT_FALSE(fs::exists(install / L"never.txt"));
}

TEST_F(PayloadExtraction, SkippedFileIsNotTouchedButCountsTowardsProgress) {
  fs::create_directories(targets[0].parent_path());
  write_file(targets[0], "earlier version");
  rec.answer = [&](const event& e, std::size_t) {
    return e.kind == ev_begin && e.path == targets[0].wstring() ? result::skip : result::proceed;
  };
  ASSERT_TRUE(extract(bzip2(plain_archive(files)), install, rec));
  EXPECT_EQ(read_file(targets[0]), "earlier version");
  EXPECT_EQ(rec.paths(ev_end), (std::vector<std::wstring>{targets[1].wstring(), targets[2].wstring()}));
  EXPECT_EQ(rec.events.back().b, table_end() + 70000 + 18);
  EXPECT_EQ(read_file(targets[2]), files[2].content);
}

TEST_F(PayloadExtraction, AbortIsHonouredWhereAllowedWithThePathOfTheBegunEntry) {
  struct abort_case {
    const char* name;
    std::size_t kind;
    std::size_t occurrence;
    std::wstring path;
    std::size_t files_ended;
  };
  const std::vector<abort_case> cases{
      {"progress after the table", ev_progress, 1, L"", 0},
      {"file_begin of the first file", ev_begin, 1, L"", 0},
      {"progress inside the first file", ev_progress, 2, targets[0].wstring(), 0},
      {"file_end of the first file", ev_end, 1, targets[0].wstring(), 1},
      {"file_begin of the third file", ev_begin, 3, L"", 2},
  };
  const std::string archive = bzip2(plain_archive(files));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rec = {};
    fs::remove_all(install);
    rec.answer = [&](const event& e, std::size_t n) {
      return e.kind == c.kind && n == c.occurrence ? result::abort : result::proceed;
    };
    EXPECT_FALSE(extract(archive, install, rec));
    expect_failure(compress_errc::interrupted, c.path);
    EXPECT_EQ(rec.count(ev_end), c.files_ended);
    if (c.kind == ev_begin) {
      EXPECT_FALSE(fs::exists(targets[c.occurrence - 1]));
    }
  }
}

TEST_F(PayloadExtraction, AnswersToStartedFinishedAndFailedAreIgnored) {
  rec.answer = [](const event& e, std::size_t) {
    return e.kind == ev_started || e.kind == ev_finished ? result::abort : result::proceed;
  };
  EXPECT_TRUE(extract(bzip2(plain_archive(files)), install, rec));
  EXPECT_EQ(rec.count(ev_finished), 1u);

  // A callback that throws from started fails the run once, without any code of its own.
  scratch_folder other;
  int failures = 0;
  std::error_code code;
  std::istringstream in(bzip2(plain_archive(files)));
  EXPECT_FALSE(engine::extract_payload(in, other.path().wstring(), L"", L"", [&](const engine::notification& n) {
    if (std::holds_alternative<engine::started>(n)) throw std::runtime_error("callback failure");
    if (auto* f = std::get_if<engine::failed>(&n)) ++failures, code = f->code;
    return result::proceed;
  }));
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(code, std::error_code(compress_errc::unexpected));
}

TEST_F(PayloadExtraction, CorruptOrTruncatedBzip2IsABzip2Failure) {
  const std::string good = bzip2(plain_archive(files));
  {
    std::istringstream in(good);
    EXPECT_TRUE(engine::verify_payload(in));
  }
  std::string corrupt = good;
  // The block's stored CRC, after the 4-byte stream header and the 6-byte block marker: only
  // the decompressor's CRC check can tell. (Damage that garbles the decompressed header may be
  // refused first, as a table beyond its size limit.)
  corrupt[11] ^= 0x5A;
  const std::string truncated = good.substr(0, good.size() - 20);
  for (const std::string* archive : std::initializer_list<const std::string*>{&corrupt, &truncated}) {
    SCOPED_TRACE(archive == &corrupt ? "corrupt" : "truncated");
    rec = {};
    fs::remove_all(install);
    std::istringstream in(*archive);
    EXPECT_FALSE(engine::verify_payload(in));
    EXPECT_FALSE(extract(*archive, install, rec));
    ASSERT_EQ(rec.count(ev_failed), 1u);
    EXPECT_EQ(rec.failure()->code, std::error_code(compress_errc::bzip2_failure));
  }
}

TEST_F(PayloadExtraction, ReadOnlyTargetIsOverwritten) {
  fs::create_directories(targets[1].parent_path());
  write_file(targets[1], "old and read-only");
  ASSERT_TRUE(::SetFileAttributesW(targets[1].c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(extract(bzip2(plain_archive(files)), install, rec));
  EXPECT_EQ(read_file(targets[1]), "");
  EXPECT_EQ(fs::file_size(targets[1]), 0u);
}

TEST_F(PayloadExtraction, MissingFolderLevelsAreCreatedInFull) {
  install = scratch.path() / L"a\\b\\c";
  files = {{L"x.txt", L"<InstallPath>\\d\\e\\f", "deep", engine::PayloadKind::Sample}};
  ASSERT_TRUE(extract(bzip2(plain_archive(files)), install, rec));
  EXPECT_EQ(read_file(install / L"d\\e\\f\\x.txt"), "deep");
}

TEST_F(PayloadExtraction, FileThatCannotBeOpenedFailsWithTheSystemCode) {
  // A folder where the file should go: opening it for writing is refused by the system.
  fs::create_directories(targets[1]);
  ASSERT_FALSE(extract(bzip2(plain_archive(files)), install, rec));
  ASSERT_EQ(rec.count(ev_failed), 1u);
  EXPECT_EQ(&rec.failure()->code.category(), &std::system_category());
  EXPECT_NE(rec.failure()->code.value(), 0);
  EXPECT_EQ(fs::path(rec.failure()->path), targets[1]);
  EXPECT_EQ(rec.count(ev_end), 1u);
}

}  // namespace

namespace {

using namespace payload_test;

// The installer verifies the embedded archive, rewinds the same stream and extracts from it.
TEST(PayloadEmbedded, ByteRangeStreamVerifiesRewindsAndExtracts) {
  // The test program carries no archive resource: an empty range, not an error.
  EXPECT_TRUE(engine::embedded_payload().empty());

  const std::vector<test_file> files{{L"a.txt", L"<InstallPath>", std::string(9000, 'a'), engine::PayloadKind::Sample}};
  const std::string archive = bzip2(plain_archive(files));
  const auto bytes = std::as_bytes(std::span(archive.data(), archive.size()));
  engine::byte_range_stream in(bytes);
  ASSERT_TRUE(engine::verify_payload(in));
  in.clear();
  ASSERT_TRUE(in.seekg(0));
  scratch_folder scratch;
  recorder rec;
  ASSERT_TRUE(engine::extract_payload(in, scratch.path().wstring(), L"", L"", rec.callback()));
  EXPECT_EQ(rec.events.back().a, archive.size());
  EXPECT_EQ(read_file(scratch.path() / L"a.txt"), files[0].content);

  in.clear();
  in.seekg(-4, std::ios_base::end);
  char tail[8] = {};
  EXPECT_EQ(in.read(tail, sizeof tail).gcount(), 4);
  EXPECT_EQ(std::string(tail, 4), archive.substr(archive.size() - 4));
}

}  // namespace
