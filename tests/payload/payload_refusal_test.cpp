#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "payload/compress_error.h"
#include "payload/payload_names.h"
#include "payload/payload_sink.h"
#include "payload/payload_test_support.h"

namespace {

using namespace payload_test;
using engine::compress_errc;

constexpr std::uint64_t max64 = ~std::uint64_t{0};

// Decompressed bytes (table and data) as an archive read side by side and as one read plainly.
struct archive_stream {
  archive_stream(const std::string& plain, bool seekable)
      : rewindable(bzip2(plain)), buffer(rewindable.str()), forward_only(&buffer),
        in(seekable ? static_cast<std::istream&>(rewindable) : forward_only) {}
  std::istringstream rewindable;
  forward_only_buffer buffer;
  std::istream forward_only;
  std::istream& in;
};

struct named {
  std::wstring source, destination;
  std::uint64_t size = 3;
};

// The table of `entries` (CRC 0) followed by `data`, as decompressed.
std::string plain_of(const std::vector<named>& entries, const std::string& data) {
  std::vector<engine::PayloadEntry> table;
  for (const named& e : entries) table.push_back({e.source, e.destination, {}, e.size, 0});
  const auto bytes = engine::serialize_payload_table(table);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()) + data;
}

// Both ways: verification fails, and extraction refuses the table with `unexpected` before any
// progress, creating nothing.
void expect_refused(const std::string& plain, const fs::path& install) {
  for (const bool seekable : {true, false}) {
    SCOPED_TRACE(seekable ? "side by side" : "plainly");
    EXPECT_FALSE(engine::verify_payload(archive_stream(plain, seekable).in));
    recorder rec;
    const fs::path folder = install / (seekable ? L"a" : L"b");
    EXPECT_FALSE(engine::extract_payload(archive_stream(plain, seekable).in, folder.wstring(),
                                         L"", L"", rec.callback()));
    ASSERT_NE(rec.failure(), nullptr);
    EXPECT_EQ(rec.failure()->code, compress_errc::unexpected);
    EXPECT_EQ(rec.count(ev_progress), 0u);
    EXPECT_FALSE(fs::exists(folder));
  }
}

// Sizes that wrap the length round to what the data then matches, a header beyond 64 MiB, and a
// name breaking each rule: in the file name (the source's last component) or in a folder after
// the destination's token or drive, and a destination that is neither below a known token nor a
// full path with a drive letter. A first entry that fails its CRC keeps a table wrongly accepted from
// creating what the named entry names.
TEST(PayloadTableRefusal, TableThatCannotBeTrustedIsRefusedBeforeAnyFileBegins) {
  scratch_folder scratch;
  std::string beyond(8, '\0');
  beyond[3] = 4, beyond[0] = 1;  // 64 MiB + 1
  expect_refused(beyond + std::string(5000, 'x'), scratch.path() / L"cap");
  const std::vector<named> wrap{{L"a.bin", L"<InstallPath>", max64 - 4},
                                {L"b.bin", L"<InstallPath>", 10}};
  expect_refused(plain_of(wrap, "aaaaa"), scratch.path() / L"wrap");
  const std::vector<named> names{
      {L"x\\Z:escaped.txt", L"<InstallPath>"},  {L"x\\..", L"<InstallPath>"},
      {L"x\\", L"<InstallPath>"},               {L"bell\a.txt", L"<InstallPath>"},
      {L"readme.", L"<InstallPath>"},           {L"src\\Lpt1 . .txt", L"<InstallPath>"},
      {L"a.txt", L"<InstallPath>\\..\\..\\W"},  {L"a.txt", L"<InstallPath>\\x:y"},
      {L"a.txt", L"<CommonData>\\Aux.d\\x"},    {L"a.txt", L"<InstallPath>\\dots...\\x"},
      // Never relative to the folder the installer runs in: an unknown token, no token, no drive.
      {L"a.txt", L"<InstalPath>\\docs"},         {L"a.txt", L"docs"},
      {L"a.txt", L"\\docs"},                      {L"a.txt", L"C:docs"},
      {L"a.txt", L"C:\\Apps\\x:y"}};
  for (std::size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(fs::path(names[i].source).string() + " in " +
                 fs::path(names[i].destination).string());
    expect_refused(plain_of({{L"fuse.txt", L"<InstallPath>", 1}, names[i]}, "fbad"),
                   scratch.path() / std::to_wstring(i));
  }
}

TEST(PayloadTableRefusal, PlainNamesAreThoseWindowsStoresAsWritten) {
  for (const wchar_t* name : {L"Tessaline.de.dll", L"User Image.png", L".profile", L"a..b",
                              L"COM", L"COM10", L"LPT1a.txt", L"NULL", L"con x.txt"})
    EXPECT_TRUE(engine::is_plain_name(name)) << fs::path(name).string();
  for (const wchar_t* name : {L"", L".", L"..", L"Z:x", L"a<b", L"a\"b", L"a|b", L"a?b", L"a*b",
                              L"tab\tname", L"readme ", L"readme. ", L"...", L"CON", L"prn",
                              L"nUl.tar.gz", L"Nul  . .txt", L"com9.dat", L"COM0", L"LPT1",
                              L"lpt\u00B3.txt", L"CONIN$", L"conout$.x"})
    EXPECT_FALSE(engine::is_plain_name(name)) << fs::path(name).string();
}

// A header beyond 64 MiB is refused with its last byte, before any of the table is held.
TEST(PayloadTableRefusal, TableEndBeyond64MiBIsRefusedAsSoonAsTheHeaderIsRead) {
  constexpr std::uint64_t cap = std::uint64_t{64} << 20;
  for (const std::uint64_t tableEnd : {cap, cap + 1, std::uint64_t{1} << 32, max64}) {
    SCOPED_TRACE(tableEnd);
    engine::PayloadSink sink(L"", L"", L"", {});
    std::byte header[engine::payload_header_size];
    for (std::size_t i = 0; i < sizeof header; ++i)
      header[i] = static_cast<std::byte>(tableEnd >> (8 * i));
    ASSERT_EQ(sink.write(header, 7), 7u);
    if (tableEnd == cap) {
      EXPECT_EQ(sink.write(header + 7, 1), 1u);
    } else {
      EXPECT_THROW(sink.write(header + 7, 1), std::system_error);
    }
    EXPECT_EQ(sink.has_failed(), tableEnd != cap);
  }
}

}  // namespace
