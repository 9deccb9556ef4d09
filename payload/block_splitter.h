// Reads a bzip2 stream and hands out its blocks one by one, each rebuilt as a stream of its own,
// checking the stream's frame on the way: the header, the end marker, the stream CRC over all
// block CRCs and that nothing follows.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <vector>

#include "payload/bzip2_blocks.h"

namespace engine::bzip2 {

// No block of a valid stream comes near this compressed size (900,000 bytes at most before
// compression, which bzip2 never expands by more than about one percent); a longer one is left
// to the plain decompression.
constexpr std::size_t longest_block = 1024 * 1024;
// Room for any single-block stream that next() hands out.
constexpr std::size_t longest_block_stream = longest_block + 64;

class block_splitter {
 public:
  // Holds its reading window at its full size from the start, so that the memory it uses does
  // not depend on the stream.
  explicit block_splitter(std::istream& in);
  block_splitter(const block_splitter&) = delete;
  block_splitter& operator=(const block_splitter&) = delete;

  enum class step {
    block,     // `stream` holds the next block
    end,       // the stream ended as it must, right after its end marker and matching CRC
    unproven,  // something the frame does not explain: left to the plain decompression
  };
  step next(std::vector<std::uint8_t>& stream);

  // Compressed bytes read so far.
  std::uint64_t bytes_read() const noexcept { return base_ + window_.size(); }

 private:
  bool read_more();
  step finish();

  std::istream& in_;
  std::vector<std::uint8_t> window_;  // the stream's bytes from `base_` on
  std::uint64_t base_ = 0;
  marker_scanner scanner_;
  std::vector<marker> found_;
  std::size_t handled_ = 0;          // markers of found_ dealt with
  std::optional<std::uint64_t> block_;  // first bit of the block being read
  std::optional<std::uint64_t> end_;    // first bit of the end marker
  std::uint32_t combined_ = 0;
  char level_ = 0;
};

}  // namespace engine::bzip2
