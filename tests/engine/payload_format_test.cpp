#include "engine/payload_format.h"

#include <gtest/gtest.h>

#include <string>
#include <system_error>

#include "engine/compress_error.h"

namespace {

using engine::PayloadEntry;
using engine::PayloadKind;

TEST(PayloadCrc32, MatchesTheZlibCheckValuesAndIsIncremental) {
  const std::string check = "123456789";
  EXPECT_EQ(engine::crc32::of(check.data(), check.size()), 0xCBF43926u);
  EXPECT_EQ(engine::crc32::of("", 0), 0u);
  const std::string fox = "The quick brown fox jumps over the lazy dog";
  EXPECT_EQ(engine::crc32::of(fox.data(), fox.size()), 0x414FA339u);

  engine::crc32 pieces;
  for (std::size_t at = 0; at < fox.size(); at += 5) pieces.update(fox.data() + at, std::min<std::size_t>(5, fox.size() - at));
  EXPECT_EQ(pieces.value(), 0x414FA339u);
  pieces.reset();
  pieces.update(check.data(), check.size());
  EXPECT_EQ(pieces.value(), 0xCBF43926u);
}

TEST(PayloadTable, SerializedTableParsesBackWithItsLayout) {
  const std::vector<PayloadEntry> entries{
      {L"C:\\build\\bin\\Tessaline.exe", L"<InstallPath>", PayloadKind::MainProgram, 123456789012ull, 0xDEADBEEFu},
      {L"lang\\Tessaline.de.dll", L"<InstallPath>\\Lang", PayloadKind::LanguageLibrary, 7, 1},
      {L"", L"", static_cast<PayloadKind>(0x12345678u), 0, 0},
  };
  const auto table = engine::serialize_payload_table(entries);

  // Header: tableEnd is the size of header plus table; then entryCount.
  ASSERT_GE(table.size(), 12u);
  EXPECT_EQ(engine::read_table_end(table), table.size());
  EXPECT_EQ(std::to_integer<int>(table[8]), 3);
  // First entry: source length 26 as little-endian, then 'C' as UTF-16LE.
  EXPECT_EQ(std::to_integer<int>(table[12]), 26);
  EXPECT_EQ(std::to_integer<int>(table[16]), 'C');
  EXPECT_EQ(std::to_integer<int>(table[17]), 0);
  // Fixed part per entry: 4 + 4 + 4 + 8 + 4 bytes around the strings.
  std::size_t strings = 0;
  for (const auto& e : entries) strings += 2 * (e.sourcePath.native().size() + e.destination.native().size());
  EXPECT_EQ(table.size(), 12 + 3 * 24 + strings);

  const auto parsed = engine::parse_payload_table(table);
  ASSERT_EQ(parsed.size(), entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(parsed[i].sourcePath, entries[i].sourcePath) << i;
    EXPECT_EQ(parsed[i].destination, entries[i].destination) << i;
    EXPECT_EQ(parsed[i].kind, entries[i].kind) << i;
    EXPECT_EQ(parsed[i].size, entries[i].size) << i;
    EXPECT_EQ(parsed[i].crc, entries[i].crc) << i;
  }
}

TEST(PayloadTable, TableRunningPastItsBufferIsUnexpected) {
  const auto table = engine::serialize_payload_table(
      {{L"a.txt", L"<InstallPath>", PayloadKind::Sample, 1, 2}, {L"b.txt", L"<InstallPath>", PayloadKind::Sample, 3, 4}});
  for (std::size_t cut : {std::size_t{8}, std::size_t{11}, std::size_t{20}, table.size() - 1}) {
    try {
      engine::parse_payload_table(std::span(table).first(cut));
      ADD_FAILURE() << "parsed a table cut at " << cut;
    } catch (const std::system_error& e) {
      EXPECT_EQ(e.code(), engine::compress_errc::unexpected) << cut;
    }
  }
  // A count far beyond the data must fail cleanly rather than allocate for it.
  auto huge = table;
  huge[11] = std::byte{0x7F};
  EXPECT_THROW(engine::parse_payload_table(huge), std::system_error);
}

}  // namespace
