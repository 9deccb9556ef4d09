#include <gtest/gtest.h>

#include <bzlib.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "payload/bzip2_blocks.h"
#include "payload/parallel_blocks.h"
#include "payload/payload_extractor.h"
#include "payload/payload_test_support.h"

namespace {

namespace bz = engine::bzip2;
using bytes = std::vector<std::uint8_t>;

// With the smallest block size a block takes at most this many input bytes; random data has no
// runs for the compressor's first stage to shorten, so every block but the last holds exactly it.
constexpr std::size_t level1_block = 100000 - 19;

std::string random_data(std::size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string data(size, '\0');
  for (auto& c : data) c = static_cast<char>(gen());
  return data;
}

bytes compress(const std::string& data, int level) {
  bytes out(data.size() + data.size() / 50 + 1024);
  auto size = static_cast<unsigned>(out.size());
  const int rc = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &size,
                                          const_cast<char*>(data.data()),
                                          static_cast<unsigned>(data.size()), level, 0, 0);
  EXPECT_EQ(rc, BZ_OK);
  out.resize(size);
  return out;
}

// What libbz2 decompresses from `stream` on its own, or nothing when it reports an error.
bool plain_decompress(const bytes& stream, std::size_t room, std::string& out) {
  out.assign(room, '\0');
  auto size = static_cast<unsigned>(room);
  const int rc = BZ2_bzBuffToBuffDecompress(out.data(), &size,
                                            reinterpret_cast<char*>(const_cast<std::uint8_t*>(stream.data())),
                                            static_cast<unsigned>(stream.size()), 0, 0);
  out.resize(size);
  return rc == BZ_OK;
}

bool decompresses_cleanly(const bytes& stream, bz::decoder_memory& memory) {
  std::size_t produced = 0;
  return bz::decompress_block(stream, memory, nullptr, 0, produced) == bz::block_result::intact;
}

std::vector<bz::marker> scan_in_pieces(const bytes& stream, std::size_t piece) {
  bz::marker_scanner scanner;
  std::vector<bz::marker> found;
  for (std::size_t at = 0; at < stream.size(); at += piece)
    scanner.scan(stream.data() + at, std::min(piece, stream.size() - at), found);
  EXPECT_EQ(scanner.scanned(), stream.size());
  return found;
}

// A stream that cannot tell or change its position is decided by the plain decompression alone.
bool verify_plainly(const bytes& stream) {
  payload_test::forward_only_buffer buffer(std::string(stream.begin(), stream.end()));
  std::istream in(&buffer);
  return engine::verify_payload(in);
}

bool verify_seekable(const bytes& stream) {
  std::istringstream in(std::string(stream.begin(), stream.end()));
  return engine::verify_payload(in);
}

bool verify_side_by_side(const bytes& stream, unsigned threads) {
  std::istringstream in(std::string(stream.begin(), stream.end()));
  return engine::verify_blocks_in_parallel(in, threads);
}

// A payload with an empty table and random bytes after it: five blocks of 100k, then a short
// sixth one. (The verifier reads the table; whether the data matches it is for the extraction.)
struct MultiBlockStream : ::testing::Test {
  const std::string data =
      payload_test::plain_archive(std::vector<payload_test::test_file>{}) +
      random_data(5 * level1_block + 1234, 7);
  const bytes stream = compress(data, 1);
  const std::size_t blocks = 6;
};

TEST_F(MultiBlockStream, MarkersAreFoundAtEveryBlockWhateverPiecesTheBytesArriveIn) {
  const auto whole = scan_in_pieces(stream, stream.size());
  ASSERT_EQ(whole.size(), blocks + 1);
  EXPECT_EQ(whole.front().bit, bz::stream_header_bits);
  for (std::size_t i = 0; i < blocks; ++i) EXPECT_FALSE(whole[i].end) << i;
  EXPECT_TRUE(whole.back().end);
  // The stream CRC and at most seven bits of padding follow the end marker.
  EXPECT_EQ((whole.back().bit + bz::magic_bits + bz::crc_bits + 7) / 8, stream.size());
  for (const std::size_t piece : {1u, 5u, 4096u}) {
    const auto pieces = scan_in_pieces(stream, piece);
    ASSERT_EQ(pieces.size(), whole.size()) << piece;
    for (std::size_t i = 0; i < whole.size(); ++i) {
      EXPECT_EQ(pieces[i].bit, whole[i].bit) << piece;
      EXPECT_EQ(pieces[i].end, whole[i].end) << piece;
    }
  }
}

TEST_F(MultiBlockStream, EachBlockRebuiltAloneDecompressesToItsOwnSliceAndTheCrcsCombine) {
  const auto markers = scan_in_pieces(stream, stream.size());
  ASSERT_EQ(markers.size(), blocks + 1);
  std::uint32_t combined = 0;
  std::string joined;
  bz::decoder_memory memory;  // reused from block to block
  for (std::size_t i = 0; i < blocks; ++i) {
    SCOPED_TRACE(i);
    bytes alone;
    bz::single_block_stream(stream.data(), markers[i].bit, markers[i + 1].bit,
                            static_cast<char>(stream[3]), alone);
    std::string out;
    ASSERT_TRUE(plain_decompress(alone, level1_block + 100, out));
    // The table's run of zeros is shortened by the compressor's first stage: the first block
    // holds a few bytes more than the others.
    if (i > 0 && i + 1 < blocks) {
      EXPECT_EQ(out.size(), level1_block);
    }
    EXPECT_EQ(out, data.substr(joined.size(), out.size()));
    EXPECT_TRUE(decompresses_cleanly(alone, memory));
    joined += out;
    combined = bz::combine_crc(
        combined, static_cast<std::uint32_t>(bz::read_bits(stream.data(), markers[i].bit + 48, 32)));
  }
  EXPECT_EQ(joined, data);
  EXPECT_EQ(combined, bz::read_bits(stream.data(), markers.back().bit + 48, 32));
}

TEST(Bzip2Blocks, CleanDecompressionRejectsShortLongAndDamagedStreams) {
  const bytes good = compress(random_data(30000, 3), 9);
  bz::decoder_memory memory;
  EXPECT_TRUE(decompresses_cleanly(good, memory));
  bytes shorter(good.begin(), good.end() - 1);
  EXPECT_FALSE(decompresses_cleanly(shorter, memory));
  bytes longer = good;
  longer.push_back(0);
  EXPECT_FALSE(decompresses_cleanly(longer, memory));
  bytes flipped = good;
  flipped[good.size() / 2] ^= 0x10;
  EXPECT_FALSE(decompresses_cleanly(flipped, memory));
  EXPECT_FALSE(decompresses_cleanly({}, memory));
  EXPECT_TRUE(bz::is_stream_header(good.data(), good.size()));
  EXPECT_FALSE(bz::is_stream_header(reinterpret_cast<const std::uint8_t*>("BZh0"), 4));
}

TEST_F(MultiBlockStream, IntactStreamIsProvenWithAnyNumberOfThreads) {
  for (const unsigned threads : {1u, 2u, 5u}) EXPECT_TRUE(verify_side_by_side(stream, threads)) << threads;
  EXPECT_TRUE(verify_side_by_side(compress("", 9), 2));  // no block at all
  EXPECT_TRUE(verify_side_by_side(compress("x", 9), 2));
  EXPECT_FALSE(verify_side_by_side({}, 2));
  EXPECT_TRUE(verify_seekable(stream));
}

TEST_F(MultiBlockStream, WhatCannotBeProvenSideBySideIsLeftToThePlainDecompression) {
  // Another stream after the first, and bytes after the stream: not proven here, decided by
  // the plain decompression however it treats them.
  bytes two = stream;
  const bytes second = compress("second", 9);
  two.insert(two.end(), second.begin(), second.end());
  EXPECT_FALSE(verify_side_by_side(two, 2));
  EXPECT_EQ(verify_seekable(two), verify_plainly(two));
  bytes trailing = stream;
  trailing.push_back(0x42);
  EXPECT_FALSE(verify_side_by_side(trailing, 2));
  EXPECT_EQ(verify_seekable(trailing), verify_plainly(trailing));

  // The plain decompression starts again where the stream stood, not at its beginning.
  std::string prefixed = "not part of the archive";
  const std::size_t skip = prefixed.size();
  prefixed.append(stream.begin(), stream.end());
  const std::size_t middle = skip + stream.size() / 2;
  prefixed[middle] = static_cast<char>(prefixed[middle] ^ 0x01);
  std::istringstream in(prefixed);
  in.seekg(static_cast<std::streamoff>(skip));
  EXPECT_FALSE(engine::verify_payload(in));
  prefixed[middle] = static_cast<char>(prefixed[middle] ^ 0x01);
  std::istringstream intact(prefixed);
  intact.seekg(static_cast<std::streamoff>(skip));
  EXPECT_TRUE(engine::verify_payload(intact));
}

// Seeded damage of every kind: the answer never differs from the plain decompression's, and the
// verifier never proves a stream that the plain decompression rejects.
TEST_F(MultiBlockStream, DamagedStreamsGetThePlainDecompressionsAnswer) {
  std::mt19937 gen(20261210);
  const auto markers = scan_in_pieces(stream, stream.size());
  int rejected = 0;
  for (int run = 0; run < 200; ++run) {
    bytes damaged = stream;
    switch (run % 5) {
      case 0: {  // one bit anywhere
        const std::size_t at = gen() % damaged.size();
        damaged[at] ^= static_cast<std::uint8_t>(1u << (gen() % 8));
        break;
      }
      case 1:  // cut short
        damaged.resize(gen() % damaged.size());
        break;
      case 2:  // bytes appended
        for (std::size_t n = 1 + gen() % 8; n > 0; --n) damaged.push_back(static_cast<std::uint8_t>(gen()));
        break;
      case 3: {  // a bit flipped inside a block marker or right after it
        const auto& m = markers[gen() % markers.size()];
        const std::uint64_t bit = m.bit + gen() % 80;
        damaged[bit / 8] ^= static_cast<std::uint8_t>(0x80u >> (bit % 8));
        break;
      }
      default: {  // a block's marker copied into the middle of a block
        const auto& m = markers[1 + gen() % (markers.size() - 2)];
        const std::size_t at = 8 + gen() % (damaged.size() - 16);
        for (unsigned i = 0; i < 6; ++i) damaged[at + i] = stream[m.bit / 8 + i];
        break;
      }
    }
    SCOPED_TRACE("run " + std::to_string(run));
    const bool plain = verify_plainly(damaged);
    if (verify_side_by_side(damaged, 2)) {
      EXPECT_TRUE(plain);
    }
    EXPECT_EQ(verify_seekable(damaged), plain);
    rejected += !plain;
  }
  // Nearly every kind of damage is caught; appended bytes may not be.
  EXPECT_GE(rejected, 150);
}

}  // namespace
