#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/decompression_pipe.h"

namespace {

using engine::decompression_pipe;

// Piece n holds n % 4097 bytes (an empty piece included), each byte (n + i) % 251.
std::string piece_content(std::size_t n) {
  std::string s(n % (decompression_pipe::piece_size + 1), '\0');
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>((n + i) % 251);
  return s;
}

TEST(DecompressionPipe, PiecesArriveWholeAndInOrderThroughAFullRing) {
  decompression_pipe pipe(8);
  constexpr std::size_t pieces = 3000;
  std::thread producer([&] {
    for (std::size_t n = 0; n < pieces; ++n) {
      const std::string s = piece_content(n * 37);
      pipe.put(s.data(), s.size());
    }
    pipe.finish(123456789012ULL);
  });
  std::size_t n = 0;
  bool all_equal = true;
  while (auto piece = pipe.next()) {
    const std::string expected = piece_content(n * 37);
    all_equal = all_equal && piece->count == expected.size() &&
                std::string(reinterpret_cast<const char*>(piece->bytes), piece->count) == expected;
    ++n;
    pipe.release();
  }
  producer.join();
  EXPECT_EQ(n, pieces);
  EXPECT_TRUE(all_equal);
  EXPECT_EQ(pipe.result(), 123456789012ULL);
}

TEST(DecompressionPipe, ProducerFailureArrivesAfterItsPiecesWithItsErrno) {
  decompression_pipe pipe(4);
  std::thread producer([&] {
    try {
      for (std::size_t n = 1; n <= 10; ++n) pipe.put(piece_content(n).data(), n);
      throw std::runtime_error("broken block");
    } catch (...) {
      pipe.fail(std::current_exception(), EILSEQ);
    }
  });
  std::size_t pieces = 0;
  while (auto piece = pipe.next()) {
    ++pieces;
    pipe.release();
  }
  producer.join();
  EXPECT_EQ(pieces, 10u);
  errno = 0;
  try {
    pipe.result();
    ADD_FAILURE() << "no failure";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "broken block");
    EXPECT_EQ(errno, EILSEQ);
  }
}

TEST(DecompressionPipe, StoppingReleasesAProducerWaitingOnAFullRing) {
  decompression_pipe pipe(4);
  bool stopped = false;
  std::size_t put = 0;
  std::thread producer([&] {
    try {
      for (;; ++put) pipe.put("abc", 3);
    } catch (const decompression_pipe::stopped&) {
      stopped = true;
    }
  });
  // Take one piece, then give up while the producer fills the ring again.
  ASSERT_TRUE(pipe.next().has_value());
  pipe.release();
  pipe.stop();
  producer.join();
  EXPECT_TRUE(stopped);
  EXPECT_GE(put, 1u);
}

}  // namespace
