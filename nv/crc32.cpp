#include "nv/crc32.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace nv {
namespace {

// Tables for CRC-32 sixteen bytes per step ("slicing"): crc_tables[0] is the classic byte-wise
// table; crc_tables[k][n] is the CRC contribution of byte n followed by k zero bytes, so that
// sixteen bytes fold into the CRC through independent lookups instead of a chain of sixteen.
constexpr std::size_t crc_slices = 16;
using crc_table = std::array<std::uint32_t, 256>;

constexpr std::array<crc_table, crc_slices> make_crc_tables() {
  std::array<crc_table, crc_slices> tables{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    tables[0][n] = c;
  }
  for (std::size_t k = 1; k < crc_slices; ++k)
    for (std::size_t n = 0; n < 256; ++n)
      tables[k][n] = (tables[k - 1][n] >> 8) ^ tables[0][tables[k - 1][n] & 0xFFu];
  return tables;
}

constexpr auto crc_tables = make_crc_tables();
static_assert(crc_tables[0][1] == 0x77073096u && crc_tables[0][255] == 0x2D02EF8Du);

// A little-endian 32-bit word from any address.
inline std::uint32_t load_le32(const unsigned char* p) noexcept {
  static_assert(std::endian::native == std::endian::little, "the sliced CRC reads words as LE");
  std::uint32_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

}  // namespace

void crc32::update(const void* data, std::size_t count) noexcept {
  const auto* p = static_cast<const unsigned char*>(data);
  const auto& t = crc_tables;
  std::uint32_t c = state_;
  // Byte by byte up to a word boundary, so that the words below are read aligned.
  while (count > 0 && reinterpret_cast<std::uintptr_t>(p) % alignof(std::uint32_t) != 0) {
    c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFFu];
    --count;
  }
  for (; count >= crc_slices; count -= crc_slices, p += crc_slices) {
    const std::uint32_t w0 = load_le32(p) ^ c;
    const std::uint32_t w1 = load_le32(p + 4);
    const std::uint32_t w2 = load_le32(p + 8);
    const std::uint32_t w3 = load_le32(p + 12);
    c = t[15][w0 & 0xFFu] ^ t[14][(w0 >> 8) & 0xFFu] ^ t[13][(w0 >> 16) & 0xFFu] ^ t[12][w0 >> 24] ^
        t[11][w1 & 0xFFu] ^ t[10][(w1 >> 8) & 0xFFu] ^ t[9][(w1 >> 16) & 0xFFu] ^ t[8][w1 >> 24] ^
        t[7][w2 & 0xFFu] ^ t[6][(w2 >> 8) & 0xFFu] ^ t[5][(w2 >> 16) & 0xFFu] ^ t[4][w2 >> 24] ^
        t[3][w3 & 0xFFu] ^ t[2][(w3 >> 8) & 0xFFu] ^ t[1][(w3 >> 16) & 0xFFu] ^ t[0][w3 >> 24];
  }
  // The tail, fewer than sixteen bytes.
  while (count-- > 0) c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFFu];
  state_ = c;
}

std::uint32_t crc32::of(const void* data, std::size_t count) noexcept {
  crc32 crc;
  crc.update(data, count);
  return crc.value();
}

}  // namespace nv
