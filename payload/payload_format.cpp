#include "payload/payload_format.h"

#include <string>
#include <system_error>

#include "payload/compress_error.h"

namespace engine {
namespace {

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


}  // namespace engine
