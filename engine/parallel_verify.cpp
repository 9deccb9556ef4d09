#include "engine/parallel_verify.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <thread>
#include <vector>

#include "engine/bzip2_blocks.h"
#include "engine/thread_sync.h"

namespace engine {
namespace {

namespace bz = bzip2;

// Compressed bytes read at a time.
constexpr std::size_t read_size = 256 * 1024;
// No block of a valid stream comes near this compressed size (900,000 bytes at most before
// compression); a longer one is left to the plain decompression.
constexpr std::size_t longest_block = 4 * 1024 * 1024;
// Shorter than its marker, CRC and the least possible content: never a block.
constexpr std::uint64_t shortest_block_bits = 128;

// Threads that decompress single-block streams handed to them, a bounded number waiting.
class block_workers {
 public:
  explicit block_workers(unsigned threads) : limit_(threads) {
    threads_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
  }
  // Abandons whatever is still queued.
  ~block_workers() {
    lock_.lock();
    failed_ = true;
    waiting_.clear();
    lock_.unlock();
    changed_.notify_all();
    for (std::thread& t : threads_)
      if (t.joinable()) t.join();
  }
  block_workers(const block_workers&) = delete;
  block_workers& operator=(const block_workers&) = delete;

  // Queues a block; waits while enough are waiting. False once any block has failed.
  bool submit(std::vector<std::uint8_t> stream) {
    lock_.lock();
    changed_.wait(lock_, [this] { return failed_ || waiting_.size() < limit_; });
    const bool go_on = !failed_;
    if (go_on) waiting_.push_back(std::move(stream));
    lock_.unlock();
    changed_.notify_all();
    return go_on;
  }

  // Lets every queued block finish; true when all of them decompressed cleanly.
  bool finish() {
    lock_.lock();
    closing_ = true;
    lock_.unlock();
    changed_.notify_all();
    for (std::thread& t : threads_)
      if (t.joinable()) t.join();
    return !failed_;
  }

 private:
  void work() {
    for (;;) {
      lock_.lock();
      changed_.wait(lock_, [this] { return closing_ || failed_ || !waiting_.empty(); });
      if (failed_ || waiting_.empty()) {
        lock_.unlock();
        return;
      }
      std::vector<std::uint8_t> stream = std::move(waiting_.front());
      waiting_.pop_front();
      lock_.unlock();
      changed_.notify_all();

      bool ok = false;
      try {
        ok = bz::decompresses_cleanly(stream);
      } catch (...) {
      }
      if (!ok) {
        lock_.lock();
        failed_ = true;
        waiting_.clear();
        lock_.unlock();
        changed_.notify_all();
      }
    }
  }

  sync_lock lock_;
  sync_condition changed_;
  std::deque<std::vector<std::uint8_t>> waiting_;
  std::size_t limit_;
  bool closing_ = false;
  bool failed_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace

bool verify_blocks_in_parallel(std::istream& payload, unsigned threads) {
  if (threads == 0) return false;
  block_workers workers(threads);

  std::vector<std::uint8_t> window;  // the stream's bytes from `base` on
  std::uint64_t base = 0;
  bz::marker_scanner scanner;
  std::vector<bz::marker> found;
  std::optional<std::uint64_t> block;  // first bit of the block being read
  std::optional<std::uint64_t> end;    // first bit of the end-of-stream marker
  std::uint32_t combined = 0;
  char level = 0;

  for (;;) {
    const std::size_t old = window.size();
    window.resize(old + read_size);
    payload.read(reinterpret_cast<char*>(window.data() + old), static_cast<std::streamsize>(read_size));
    const auto got = static_cast<std::size_t>(payload.gcount());
    window.resize(old + got);
    if (got == 0) break;
    if (level == 0) {
      if (base + window.size() < 4) continue;
      if (!bz::is_stream_header(window.data(), window.size())) return false;
      level = static_cast<char>(window[3]);
    }
    if (end) {
      // Only the stream CRC and the padding may follow the end marker.
      if (base + window.size() > (*end + bz::magic_bits + bz::crc_bits + 7) / 8) return false;
      continue;
    }

    found.clear();
    scanner.scan(window.data() + (scanner.scanned() - base),
                 static_cast<std::size_t>(base + window.size() - scanner.scanned()), found);
    for (const bz::marker& m : found) {
      if (!block) {
        // The first block follows the header directly.
        if (m.bit != bz::stream_header_bits) return false;
        if (m.end)
          end = m.bit;
        else
          block = m.bit;
      } else {
        const std::uint64_t first = *block;
        if (m.bit - first < shortest_block_bits) return false;
        const std::uint64_t from = first / 8 * 8;
        const std::uint8_t* bytes = window.data() + (from / 8 - base);
        combined = bz::combine_crc(
            combined, static_cast<std::uint32_t>(bz::read_bits(bytes, first - from + bz::magic_bits,
                                                               bz::crc_bits)));
        if (!workers.submit(bz::single_block_stream(bytes, first - from, m.bit - from, level)))
          return false;
        if (m.end)
          end = m.bit;
        else
          block = m.bit;
      }
      if (end) break;
    }

    // Keep the bytes from the block being read, or from the end marker, on.
    const std::uint64_t keep = (end ? *end : block ? *block : 0) / 8;
    if (keep > base) {
      window.erase(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(keep - base));
      base = keep;
    }
    if (!end && window.size() > longest_block) return false;
    if (end && base + window.size() > (*end + bz::magic_bits + bz::crc_bits + 7) / 8) return false;
  }
  if (payload.bad() || !end) return false;
  // The stream must end with the end marker's CRC and at most the padding of its last byte.
  const std::uint64_t crcBit = *end + bz::magic_bits;
  if (base + window.size() != (crcBit + bz::crc_bits + 7) / 8) return false;
  const std::uint64_t from = *end / 8 * 8;
  const auto stored = static_cast<std::uint32_t>(
      bz::read_bits(window.data() + (from / 8 - base), crcBit - from, bz::crc_bits));
  return workers.finish() && stored == combined;
}

}  // namespace engine
