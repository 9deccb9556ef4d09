#include "payload/payload_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "payload/compress_error.h"
#include "nv/crc32.h"

namespace {

using engine::PayloadEntry;
using engine::PayloadKind;

// CRC-32 bit by bit, straight from the reflected polynomial: the reference for the tables.
std::uint32_t bitwise_crc32(const unsigned char* bytes, std::size_t count) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < count; ++i) {
    c ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

TEST(PayloadCrc32, MatchesCheckValuesAndTheBitwiseCrcForAnyLengthOffsetAndSplit) {
  const struct {
    std::string bytes;
    std::uint32_t crc;
  } known[] = {
      {"123456789", 0xCBF43926u},
      {"", 0u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
      {std::string(32, '\0'), 0x190A55ADu},
      {std::string(32, '\xFF'), 0xFF6CAB0Bu},
  };
  for (const auto& k : known)
    EXPECT_EQ(nv::crc32::of(k.bytes.data(), k.bytes.size()), k.crc) << k.bytes;

  // Random bytes at every offset within a word pair, of lengths around the 16-byte steps and the
  // read blocks, fed whole and in pieces of every awkward size.
  std::mt19937 random(20240611u);
  std::vector<unsigned char> buffer(70000);
  for (auto& b : buffer) b = static_cast<unsigned char>(random());
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 48; ++n) lengths.push_back(n);
  for (std::size_t n : {255u, 4095u, 4096u, 4097u, 65536u, 69990u}) lengths.push_back(n);
  const std::size_t pieces[] = {1, 3, 5, 7, 15, 16, 17, 33, 4096};
  nv::crc32 crc;
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t length : lengths) {
      const unsigned char* data = buffer.data() + offset;
      const std::uint32_t expected = bitwise_crc32(data, length);
      EXPECT_EQ(nv::crc32::of(data, length), expected) << offset << "+" << length;
      for (std::size_t piece : pieces) {
        if (piece >= length && length > 0) continue;
        crc.reset();
        for (std::size_t at = 0; at < length; at += piece)
          crc.update(data + at, std::min(piece, length - at));
        EXPECT_EQ(crc.value(), expected) << offset << "+" << length << " in pieces of " << piece;
      }
    }
  }
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
