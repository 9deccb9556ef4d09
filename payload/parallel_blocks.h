// Decompresses the blocks of a bzip2 stream on several threads at once and hands the results
// back in stream order. A thread reads the stream and splits it into blocks; the others
// decompress them. Only what it proves is final: whatever the stream's frame does not explain,
// and any block that does not decompress on its own, is reported for the plain one-thread
// decompression to decide.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <thread>
#include <vector>

#include "payload/block_splitter.h"
#include "payload/bzip2_blocks.h"
#include "payload/thread_sync.h"

namespace engine {

class parallel_blocks {
 public:
  // A block decompressing to more than this is handed back undecompressed (`oversized`).
  static constexpr std::size_t largest_output = 1024 * 1024;

  // Starts reading `in` at once. With `keep_output` false the blocks are only proven.
  parallel_blocks(std::istream& in, unsigned threads, bool keep_output);
  // Stops every thread, abandoning what is still in work.
  ~parallel_blocks();
  parallel_blocks(const parallel_blocks&) = delete;
  parallel_blocks& operator=(const parallel_blocks&) = delete;

  struct item {
    enum kind_t {
      block,      // decompressed: `bytes`, `size`
      oversized,  // intact as far as known but too large to keep: `stream` is the block alone
      end,        // the stream is complete and proven
      unproven,   // the rest is for the plain decompression
    } kind;
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    const std::vector<std::uint8_t>* stream = nullptr;
  };
  // The next item in stream order, waiting for it. It stays valid until release().
  item next();
  void release();
  // Compressed bytes read, once `end` has been handed out.
  std::uint64_t bytes_read() const noexcept { return bytesRead_; }

 private:
  struct slot;
  void stop() noexcept;
  // Runs the work of a helper thread. Whatever escapes it (no memory for the reading window, for
  // instance) abandons the run instead of ending the process: next() then hands out `unproven`.
  template <typename Work>
  void guarded(Work work) noexcept;
  void split(std::istream& in);
  void decompress();

  const bool keep_;
  const std::size_t capacity_;
  std::unique_ptr<slot[]> slots_;
  sync_lock lock_;
  sync_condition changed_;
  std::uint64_t produced_ = 0;  // slots filled by the splitting thread
  std::uint64_t consumed_ = 0;  // slots released by the caller
  bool stopping_ = false;
  bool abandoned_ = false;  // a helper thread failed
  std::uint64_t bytesRead_ = 0;
  std::vector<std::thread> threads_;
};

// Reads `payload` to its end. True when it is exactly one bzip2 stream whose every block
// decompresses with its CRC right and whose stream CRC matches; false when that was not shown.
bool verify_blocks_in_parallel(std::istream& payload, unsigned threads);

}  // namespace engine
