#include "payload/bzip2_blocks.h"

#include <array>
#include <cstdlib>

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
  explicit decompress_state(decoder_memory& memory) {
    stream_.bzalloc = &decoder_memory::allocate;
    stream_.bzfree = &decoder_memory::release;
    stream_.opaque = &memory;
    ok_ = BZ2_bzDecompressInit(&stream_, 0, 0) == BZ_OK;
  }
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

void single_block_stream(const std::uint8_t* bytes, std::uint64_t first, std::uint64_t last,
                         char level, std::vector<std::uint8_t>& out) {
  const std::uint64_t length = last - first;
  out.clear();
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
}

decoder_memory::~decoder_memory() {
  for (const block& b : blocks_) std::free(b.address);
}

void* decoder_memory::allocate(void* opaque, int items, int size) {
  auto& self = *static_cast<decoder_memory*>(opaque);
  const auto bytes = static_cast<std::size_t>(items) * static_cast<std::size_t>(size);
  for (block& b : self.blocks_) {
    if (!b.used && b.size == bytes) {
      b.used = true;
      return b.address;
    }
  }
  void* address = std::malloc(bytes);
  if (address == nullptr) return nullptr;
  try {
    self.blocks_.push_back({bytes, address, true});
  } catch (...) {
    std::free(address);
    return nullptr;
  }
  return address;
}

void decoder_memory::release(void* opaque, void* address) {
  for (block& b : static_cast<decoder_memory*>(opaque)->blocks_)
    if (b.address == address) b.used = false;
}

block_result decompress_block(const std::vector<std::uint8_t>& stream, decoder_memory& memory,
                              std::uint8_t* output, std::size_t room, std::size_t& produced) {
  produced = 0;
  decompress_state state(memory);
  if (!state.ok()) return block_result::broken;
  bz_stream* s = state.get();
  // libbz2 takes non-const input but never writes to it.
  s->next_in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(stream.data()));
  s->avail_in = static_cast<unsigned>(stream.size());
  std::array<char, 65536> discard;
  for (;;) {
    char* const out = output ? reinterpret_cast<char*>(output) + produced : discard.data();
    const std::size_t space = output ? room - produced : discard.size();
    if (space == 0) {
      // Full: the block is intact only if nothing more comes out.
      char probe;
      s->next_out = &probe;
      s->avail_out = 1;
      const int result = BZ2_bzDecompress(s);
      if (s->avail_out == 0) return block_result::too_large;
      if (result == BZ_STREAM_END) return s->avail_in == 0 ? block_result::intact : block_result::broken;
      return block_result::broken;
    }
    s->next_out = out;
    s->avail_out = static_cast<unsigned>(space);
    const int result = BZ2_bzDecompress(s);
    const std::size_t made = space - s->avail_out;
    if (output) produced += made;
    if (result == BZ_STREAM_END) return s->avail_in == 0 ? block_result::intact : block_result::broken;
    if (result != BZ_OK) return block_result::broken;
    // All input taken and no room used: the stream ends short.
    if (s->avail_in == 0 && made == 0) return block_result::broken;
  }
}

}  // namespace engine::bzip2
