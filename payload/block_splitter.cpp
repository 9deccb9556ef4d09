#include "payload/block_splitter.h"

namespace engine::bzip2 {
namespace {

// Compressed bytes read at a time.
constexpr std::size_t read_size = 256 * 1024;
// Shorter than its marker, CRC and the least possible content: never a block.
constexpr std::uint64_t shortest_block_bits = 128;

}  // namespace

block_splitter::block_splitter(std::istream& in) : in_(in) {
  window_.resize(longest_block + read_size);
  window_.clear();
}

block_splitter::step block_splitter::next(std::vector<std::uint8_t>& stream) {
  for (;;) {
    while (!end_ && handled_ < found_.size()) {
      const marker m = found_[handled_++];
      if (!block_) {
        // The first block follows the header directly.
        if (m.bit != stream_header_bits) return step::unproven;
        (m.end ? end_ : block_) = m.bit;
        continue;
      }
      const std::uint64_t first = *block_;
      if (m.bit - first < shortest_block_bits) return step::unproven;
      const std::uint64_t from = first / 8 * 8;
      const std::uint8_t* bytes = window_.data() + (from / 8 - base_);
      combined_ = combine_crc(combined_, static_cast<std::uint32_t>(
                                             read_bits(bytes, first - from + magic_bits, crc_bits)));
      single_block_stream(bytes, first - from, m.bit - from, level_, stream);
      (m.end ? end_ : block_) = m.bit;
      return step::block;
    }
    if (end_) return finish();
    if (!read_more()) return step::unproven;
  }
}

bool block_splitter::read_more() {
  // Keep the bytes from the block being read on.
  const std::uint64_t keep = block_ ? *block_ / 8 : 0;
  if (keep > base_) {
    window_.erase(window_.begin(), window_.begin() + static_cast<std::ptrdiff_t>(keep - base_));
    base_ = keep;
  }
  if (window_.size() > longest_block) return false;
  const std::size_t old = window_.size();
  window_.resize(old + read_size);
  in_.read(reinterpret_cast<char*>(window_.data() + old), static_cast<std::streamsize>(read_size));
  const auto got = static_cast<std::size_t>(in_.gcount());
  window_.resize(old + got);
  if (got == 0 || in_.bad()) return false;
  if (level_ == 0) {
    if (bytes_read() < 4) return true;
    if (!is_stream_header(window_.data(), window_.size())) return false;
    level_ = static_cast<char>(window_[3]);
  }
  found_.clear();
  handled_ = 0;
  scanner_.scan(window_.data() + (scanner_.scanned() - base_),
                static_cast<std::size_t>(bytes_read() - scanner_.scanned()), found_);
  return true;
}

block_splitter::step block_splitter::finish() {
  // Only the stream CRC and the padding of its last byte may follow the end marker.
  const std::uint64_t crcBit = *end_ + magic_bits;
  const std::uint64_t length = (crcBit + crc_bits + 7) / 8;
  while (bytes_read() <= length) {
    const std::size_t old = window_.size();
    window_.resize(old + 64);
    in_.read(reinterpret_cast<char*>(window_.data() + old), 64);
    const auto got = static_cast<std::size_t>(in_.gcount());
    window_.resize(old + got);
    if (in_.bad()) return step::unproven;
    if (got == 0) break;
  }
  if (bytes_read() != length) return step::unproven;
  const std::uint64_t from = *end_ / 8 * 8;
  const auto stored =
      static_cast<std::uint32_t>(read_bits(window_.data() + (from / 8 - base_), crcBit - from, crc_bits));
  return stored == combined_ ? step::end : step::unproven;
}

}  // namespace engine::bzip2
