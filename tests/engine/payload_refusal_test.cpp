#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "engine/compress_error.h"
#include "engine/payload_sink.h"
#include "payload_test_support.h"

namespace {

using namespace payload_test;
using engine::PayloadEntry;
using engine::PayloadKind;

constexpr std::uint64_t max64 = ~std::uint64_t{0};

// A table the extractor must not act on, and the decompressed bytes that follow it.
struct refused_case {
  const char* name;
  std::vector<PayloadEntry> entries;
  std::string data;
};

PayloadEntry entry(std::wstring source, std::wstring destination, std::uint64_t size) {
  return {std::move(source), std::move(destination), PayloadKind::SharedData, size, 0};
}

std::string archive_of(const refused_case& c) {
  const auto table = engine::serialize_payload_table(c.entries);
  return bzip2(std::string(reinterpret_cast<const char*>(table.data()), table.size()) + c.data);
}

// An archive as a stream that can be rewound, or as one that cannot (like a pipe).
struct archive_stream {
  archive_stream(const std::string& archive, bool seekable)
      : rewindable(archive), buffer(archive), forward_only(&buffer),
        in(seekable ? static_cast<std::istream&>(rewindable) : forward_only) {}
  std::istringstream rewindable;
  forward_only_buffer buffer;
  std::istream forward_only;
  std::istream& in;
};

// Verifies and extracts from a stream that can be rewound (decompressed side by side) and from
// one that cannot (decompressed plainly): verification fails, and extraction refuses the table
// with `unexpected` before the first file begins, creating nothing below the installation folder.
void expect_refused_both_ways(const std::string& archive, const fs::path& scratch) {
  for (const bool seekable : {true, false}) {
    SCOPED_TRACE(seekable ? "side by side" : "plainly");
    EXPECT_FALSE(engine::verify_payload(archive_stream(archive, seekable).in));
    const fs::path install = scratch / (seekable ? L"a" : L"b");
    recorder rec;
    archive_stream stream(archive, seekable);
    EXPECT_FALSE(engine::extract_payload(stream.in, install.wstring(), L"", L"", rec.callback()));
    ASSERT_EQ(rec.count(ev_failed), 1u);
    EXPECT_EQ(rec.failure()->code, engine::compress_errc::unexpected);
    EXPECT_EQ(rec.failure()->path, L"");
    EXPECT_EQ(rec.count(ev_begin), 0u);
    EXPECT_EQ(rec.count(ev_progress), 0u);
    EXPECT_FALSE(fs::exists(install));
  }
}

TEST(PayloadTableRefusal, TableTheDataCannotMatchIsRefusedBeforeAnyFileBegins) {
  const std::vector<refused_case> cases{
      // The sizes wrap the total round to a few bytes, which the data then matches.
      {"sizes summing past 2^64",
       {entry(L"a.bin", L"<InstallPath>", max64 - 4), entry(L"b.bin", L"<InstallPath>", 10)},
       "aaaaa"},
      {"one size that the table end carries past 2^64",
       {entry(L"a.bin", L"<InstallPath>", max64)},
       "aaaaa"},
  };
  scratch_folder scratch;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    expect_refused_both_ways(archive_of(cases[i]), scratch.path() / std::to_wstring(i));
  }
  SCOPED_TRACE("a header announcing a table beyond 64 MiB");
  std::string header(8, '\0');
  header[3] = 4;  // 64 MiB + 1
  header[0] = 1;
  expect_refused_both_ways(bzip2(header + std::string(5000, 'x')), scratch.path() / L"cap");
}

// One entry per rule: a file name (the last component of the source path) must be a plain name,
// and so must every folder after the destination's token. A good entry comes first, so the
// refusal must happen before any file begins.
TEST(PayloadTableRefusal, NamesThatAreNotPlainAreRefusedBeforeAnyFileBegins) {
  const std::vector<std::pair<std::wstring, std::wstring>> names{
      {L"x\\Z:escaped.txt", L"<InstallPath>"},  // an alternate data stream of Z
      {L"x\\", L"<InstallPath>"},                // no file name at all
      {L"x\\..", L"<InstallPath>"},
      {L".", L"<InstallPath>"},
      {L"bell\a.txt", L"<InstallPath>"},
      {L"readme.", L"<InstallPath>"},
      {L"readme ", L"<InstallPath>"},
      {L"a?.txt", L"<InstallPath>"},
      {L"NUL", L"<InstallPath>"},
      {L"src\\com7.log", L"<InstallPath>"},
      {L"Lpt1 . .txt", L"<InstallPath>"},
      {L"a.txt", L"<InstallPath>\\..\\..\\Windows"},
      {L"a.txt", L"<InstallPath>\\."},
      {L"a.txt", L"<InstallPath>\\x:y"},
      {L"a.txt", L"<CommonData>\\Aux.d\\x"},
      {L"a.txt", L"<InstallPath>\\dots...\\x"},
  };
  scratch_folder scratch;
  for (std::size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "source " << fs::path(names[i].first).string()
                                    << ", destination " << fs::path(names[i].second).string());
    const refused_case c{"", {entry(L"good.txt", L"<InstallPath>", 2),
                              entry(names[i].first, names[i].second, 3)},
                         "ggbad"};
    expect_refused_both_ways(archive_of(c), scratch.path() / std::to_wstring(i));
  }
}

// The header alone decides: a table beyond 64 MiB is refused with the header's last byte,
// before any of it is held; one up to that size is waited for.
TEST(PayloadTableRefusal, TableEndBeyond64MiBIsRefusedAsSoonAsTheHeaderIsRead) {
  constexpr std::uint64_t cap = std::uint64_t{64} << 20;
  const struct {
    std::uint64_t tableEnd;
    bool refused;
  } cases[] = {{12, false}, {cap, false}, {cap + 1, true}, {std::uint64_t{1} << 32, true},
               {max64, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tableEnd);
    int notifications = 0;
    engine::PayloadSink sink(L"", L"", L"", [&](const engine::notification&) {
      ++notifications;
      return engine::notification::result::proceed;
    });
    std::byte header[engine::payload_header_size];
    for (std::size_t i = 0; i < sizeof header; ++i)
      header[i] = static_cast<std::byte>(c.tableEnd >> (8 * i));
    EXPECT_EQ(sink.write(header, sizeof header - 1), sizeof header - 1);
    if (c.refused) {
      try {
        sink.write(header + sizeof header - 1, 1);
        ADD_FAILURE() << "the header was taken";
      } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), engine::compress_errc::unexpected);
      }
    } else {
      EXPECT_EQ(sink.write(header + sizeof header - 1, 1), 1u);
    }
    EXPECT_EQ(sink.has_failed(), c.refused);
    EXPECT_EQ(notifications, 0);
  }
}

}  // namespace
