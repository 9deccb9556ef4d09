#include "engine/payload_format.h"

#include <array>
#include <bit>
#include <cstring>
#include <string>
#include <system_error>

#include "engine/compress_error.h"

namespace engine {
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

// Little-endian writer into a growing byte buffer.
class table_writer {
 public:
  explicit table_writer(std::vector<std::byte>& out) : out_(out) {}

  void u32(std::uint32_t v) { put(v, 4); }
  void u64(std::uint64_t v) { put(v, 8); }
  void text(const std::wstring& s) {
    static_assert(sizeof(wchar_t) == 2, "UTF-16 strings are stored as they are in memory");
    u32(static_cast<std::uint32_t>(s.size()));
    for (wchar_t ch : s) put(static_cast<std::uint16_t>(ch), 2);
  }

 private:
  void put(std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out_.push_back(static_cast<std::byte>((v >> (8 * i)) & 0xFF));
  }
  std::vector<std::byte>& out_;
};

// Little-endian reader over a bounded buffer; running past its end is a malformed table.
class table_reader {
 public:
  explicit table_reader(std::span<const std::byte> in) : in_(in) {}

  std::uint32_t u32() { return static_cast<std::uint32_t>(get(4)); }
  std::uint64_t u64() { return get(8); }
  std::wstring text() {
    const std::uint32_t length = u32();
    need(std::uint64_t{length} * 2);
    std::wstring s(length, L'\0');
    for (std::uint32_t i = 0; i < length; ++i) s[i] = static_cast<wchar_t>(get(2));
    return s;
  }
  void skip(std::size_t count) {
    need(count);
    pos_ += count;
  }

 private:
  void need(std::uint64_t count) const {
    if (count > in_.size() - pos_) throw std::system_error(compress_errc::unexpected);
  }
  std::uint64_t get(int bytes) {
    need(static_cast<std::uint64_t>(bytes));
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= std::uint64_t(std::to_integer<std::uint8_t>(in_[pos_ + i])) << (8 * i);
    pos_ += static_cast<std::size_t>(bytes);
    return v;
  }
  std::span<const std::byte> in_;
  std::size_t pos_ = 0;
};

}  // namespace

std::vector<std::byte> serialize_payload_table(const std::vector<PayloadEntry>& entries) {
  std::vector<std::byte> out;
  table_writer writer(out);
  writer.u64(0);  // tableEnd, filled in below
  writer.u32(static_cast<std::uint32_t>(entries.size()));
  for (const PayloadEntry& e : entries) {
    writer.text(e.sourcePath.wstring());
    writer.text(e.destination.wstring());
    writer.u32(static_cast<std::uint32_t>(e.kind));
    writer.u64(e.size);
    writer.u32(e.crc);
  }
  const std::uint64_t tableEnd = out.size();
  for (std::size_t i = 0; i < payload_header_size; ++i)
    out[i] = static_cast<std::byte>((tableEnd >> (8 * i)) & 0xFF);
  return out;
}

std::uint64_t read_table_end(std::span<const std::byte> header) {
  return table_reader(header.first(payload_header_size)).u64();
}

std::vector<PayloadEntry> parse_payload_table(std::span<const std::byte> table) {
  table_reader reader(table);
  reader.skip(payload_header_size);
  const std::uint32_t count = reader.u32();
  std::vector<PayloadEntry> entries;
  for (std::uint32_t i = 0; i < count; ++i) {
    PayloadEntry e;
    e.sourcePath = reader.text();
    e.destination = reader.text();
    e.kind = static_cast<PayloadKind>(reader.u32());
    e.size = reader.u64();
    e.crc = reader.u32();
    entries.push_back(std::move(e));
  }
  return entries;
}

std::uint64_t payload_length(std::uint64_t tableEnd, const std::vector<PayloadEntry>& entries) {
  std::uint64_t length = tableEnd;
  for (const PayloadEntry& e : entries) {
    if (e.size > ~std::uint64_t{0} - length)
      throw std::system_error(compress_errc::unexpected, "payload sizes beyond 2^64");
    length += e.size;
  }
  return length;
}

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

}  // namespace engine
