#include "engine/bzip2_blocks.h"

#include <array>

#include <bzlib.h>

namespace engine::bzip2 {
namespace {

constexpr std::uint64_t magic_mask = (std::uint64_t{1} << magic_bits) - 1;

// The byte before the last one of a marker that ends k bits short of a byte boundary is bits
// [32 + k, 40 + k) of the marker; only such bytes can be followed by a marker's end.
constexpr std::array<bool, 256> make_candidates() {
  std::array<bool, 256> table{};
  for (unsigned k = 0; k < 8; ++k) {
    table[(block_magic >> (8 - k)) & 0xFF] = true;
    table[(end_magic >> (8 - k)) & 0xFF] = true;
  }
  return table;
}
constexpr std::array<bool, 256> candidates = make_candidates();

// Appends bits, most significant first, to a byte vector.
class bit_writer {
 public:
  explicit bit_writer(std::vector<std::uint8_t>& out) : out_(out) {}
  void put(std::uint64_t value, unsigned count) {
    while (count > 0) {
      const unsigned take = count < 8 ? count : 8;
      count -= take;
      const auto piece = static_cast<unsigned>((value >> count) & ((1u << take) - 1));
      pending_ = (pending_ << take) | piece;
      pendingBits_ += take;
      if (pendingBits_ >= 8) {
        pendingBits_ -= 8;
        out_.push_back(static_cast<std::uint8_t>(pending_ >> pendingBits_));
        pending_ &= (1u << pendingBits_) - 1;
      }
    }
  }
  // Pads the last byte with zero bits.
  void flush() {
    if (pendingBits_ > 0) put(0, 8 - pendingBits_);
  }

 private:
  std::vector<std::uint8_t>& out_;
  unsigned pending_ = 0;
  unsigned pendingBits_ = 0;
};

// Owns a libbz2 decompression state.
class decompress_state {
 public:
  decompress_state() { ok_ = BZ2_bzDecompressInit(&stream_, 0, 0) == BZ_OK; }
  ~decompress_state() {
    if (ok_) BZ2_bzDecompressEnd(&stream_);
  }
  decompress_state(const decompress_state&) = delete;
  decompress_state& operator=(const decompress_state&) = delete;
  bool ok() const noexcept { return ok_; }
  bz_stream* get() noexcept { return &stream_; }

 private:
  bz_stream stream_{};
  bool ok_ = false;
};

}  // namespace

bool is_stream_header(const std::uint8_t* bytes, std::size_t count) {
  return count >= 4 && bytes[0] == 'B' && bytes[1] == 'Z' && bytes[2] == 'h' && bytes[3] >= '1' &&
         bytes[3] <= '9';
}

std::uint64_t read_bits(const std::uint8_t* bytes, std::uint64_t bit, unsigned count) {
  std::uint64_t value = 0;
  for (unsigned i = 0; i < count; ++i, ++bit)
    value = (value << 1) | ((bytes[bit / 8] >> (7 - bit % 8)) & 1u);
  return value;
}

void marker_scanner::scan(const std::uint8_t* bytes, std::size_t count, std::vector<marker>& found) {
  for (std::size_t n = 0; n < count; ++n) {
    const bool candidate = candidates[window_ & 0xFF];
    window_ = (window_ << 8) | bytes[n];
    const std::uint64_t endBit = (scanned_ + n + 1) * 8;
    if (!candidate) continue;
    // k bits short of the byte's end, from the earliest position to the latest.
    for (unsigned k = 8; k-- > 0;) {
      if (endBit - k < magic_bits) continue;
      const std::uint64_t bits = (window_ >> k) & magic_mask;
      if (bits == block_magic || bits == end_magic)
        found.push_back({endBit - k - magic_bits, bits == end_magic});
    }
  }
  scanned_ += count;
}

std::vector<std::uint8_t> single_block_stream(const std::uint8_t* bytes, std::uint64_t first,
                                              std::uint64_t last, char level) {
  const std::uint64_t length = last - first;
  std::vector<std::uint8_t> out;
  out.reserve(static_cast<std::size_t>(length / 8 + 16));
  for (const char c : {'B', 'Z', 'h', level}) out.push_back(static_cast<std::uint8_t>(c));
  // Whole bytes of the block, shifted to the byte boundary after the header.
  const std::size_t from = static_cast<std::size_t>(first / 8);
  const unsigned shift = static_cast<unsigned>(first % 8);
  const std::size_t whole = static_cast<std::size_t>(length / 8);
  if (shift == 0) {
    out.insert(out.end(), bytes + from, bytes + from + whole);
  } else {
    for (std::size_t j = 0; j < whole; ++j)
      out.push_back(static_cast<std::uint8_t>((bytes[from + j] << shift) |
                                              (bytes[from + j + 1] >> (8 - shift))));
  }
  bit_writer tail(out);
  const auto rest = static_cast<unsigned>(length % 8);
  if (rest > 0) tail.put(read_bits(bytes, first + whole * 8, rest), rest);
  const auto crc = read_bits(bytes, first + magic_bits, crc_bits);
  tail.put(end_magic, magic_bits);
  tail.put(crc, crc_bits);
  tail.flush();
  return out;
}

bool decompresses_cleanly(const std::vector<std::uint8_t>& stream) {
  decompress_state state;
  if (!state.ok()) return false;
  bz_stream* s = state.get();
  // libbz2 takes non-const input but never writes to it.
  s->next_in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(stream.data()));
  s->avail_in = static_cast<unsigned>(stream.size());
  std::array<char, 65536> discard;
  for (;;) {
    s->next_out = discard.data();
    s->avail_out = static_cast<unsigned>(discard.size());
    const int result = BZ2_bzDecompress(s);
    if (result == BZ_STREAM_END) return s->avail_in == 0;
    if (result != BZ_OK) return false;
    // All input taken and no room used: the stream ends short.
    if (s->avail_in == 0 && s->avail_out == discard.size()) return false;
  }
}

}  // namespace engine::bzip2
