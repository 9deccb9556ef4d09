// The block layout of a bzip2 stream: finds where its blocks begin and end, and rebuilds a block
// as a stream of its own, so that the blocks of one archive can be decompressed independently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine::bzip2 {

// A stream opens with "BZh" and the block-size digit '1'..'9'.
constexpr std::size_t stream_header_bits = 32;
// Every block opens with this 48-bit marker; the stream closes with the second one.
constexpr std::uint64_t block_magic = 0x314159265359;
constexpr std::uint64_t end_magic = 0x177245385090;
constexpr std::size_t magic_bits = 48;
// A marker is followed by a 32-bit CRC: the block's own, or the stream's combined CRC.
constexpr std::size_t crc_bits = 32;

// True when `bytes` open with a valid stream header.
bool is_stream_header(const std::uint8_t* bytes, std::size_t count);

// The stream CRC after one more block: rotated left by one bit, then combined with its CRC.
constexpr std::uint32_t combine_crc(std::uint32_t combined, std::uint32_t block_crc) {
  return ((combined << 1) | (combined >> 31)) ^ block_crc;
}

// `count` (at most 64) bits read most significant first from bit `bit` of `bytes`.
std::uint64_t read_bits(const std::uint8_t* bytes, std::uint64_t bit, unsigned count);

struct marker {
  std::uint64_t bit;  // position of the marker's first bit
  bool end;           // the end-of-stream marker rather than a block marker
};

// Finds block and end-of-stream markers at any bit position in bytes handed over piece by piece.
// A marker found this way is a candidate: the same 48 bits can occur inside compressed data.
class marker_scanner {
 public:
  // Scans `count` further bytes, the stream's bytes from `scanned()` on; appends every marker
  // that ends inside them to `found`.
  void scan(const std::uint8_t* bytes, std::size_t count, std::vector<marker>& found);
  std::uint64_t scanned() const noexcept { return scanned_; }

 private:
  std::uint64_t window_ = 0;  // the last 64 bits scanned
  std::uint64_t scanned_ = 0;  // bytes scanned so far
};

// Fills `out` (reusing its memory) with a single-block stream holding the block that occupies
// bits [first, last) of `bytes`: the header with `level`, the block's bits, the end marker and,
// as the stream CRC, the block's CRC.
void single_block_stream(const std::uint8_t* bytes, std::uint64_t first, std::uint64_t last,
                         char level, std::vector<std::uint8_t>& out);

// Keeps the decompressor's large buffers between streams, so that one thread decompressing block
// after block does not map and fault in fresh memory for each.
class decoder_memory {
 public:
  decoder_memory() = default;
  ~decoder_memory();
  decoder_memory(const decoder_memory&) = delete;
  decoder_memory& operator=(const decoder_memory&) = delete;

  // The decompressor's allocation callbacks; `opaque` is the decoder_memory.
  static void* allocate(void* opaque, int items, int size);
  static void release(void* opaque, void* address);

 private:
  struct block {
    std::size_t size;
    void* address;
    bool used;
  };
  std::vector<block> blocks_;
};

enum class block_result { intact, broken, too_large };

// Decompresses one complete bzip2 stream held in memory into `output` (room for `room` bytes;
// null discards the output), setting `produced`. `intact` when it ends exactly at its last byte
// with every CRC right; `too_large` when the output does not fit.
block_result decompress_block(const std::vector<std::uint8_t>& stream, decoder_memory& memory,
                              std::uint8_t* output, std::size_t room, std::size_t& produced);

}  // namespace engine::bzip2
