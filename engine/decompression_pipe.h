// Carries decompressed pieces of the payload from the thread that decompresses it to the thread
// that writes them, through a fixed ring of pieces, so that decompressing and writing overlap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>

#include "engine/thread_sync.h"

namespace engine {

class decompression_pipe {
 public:
  static constexpr std::size_t piece_size = 4096;

  // The consumer stopped taking pieces; thrown to the producer.
  struct stopped {};

  struct piece {
    const std::byte* bytes;
    std::size_t count;
  };

  explicit decompression_pipe(std::size_t pieces);
  decompression_pipe(const decompression_pipe&) = delete;
  decompression_pipe& operator=(const decompression_pipe&) = delete;

  // Producer: copies in one piece of at most piece_size bytes, waiting while the ring is full.
  // Throws `stopped` once the consumer has stopped.
  void put(const char* bytes, std::size_t count);
  // Producer: all pieces are in; `copied` compressed bytes were read.
  void finish(std::uint64_t copied);
  // Producer: decompression failed with `error`; `error_number` is the producer's errno then.
  void fail(std::exception_ptr error, int error_number);

  // Consumer: the next piece, waiting for it; none once the producer has finished or failed and
  // every piece was taken. Each piece stays valid until release().
  std::optional<piece> next();
  void release();
  // Consumer, after the last piece: the compressed byte count, or the producer's failure rethrown
  // with its errno restored.
  std::uint64_t result();
  // Consumer: takes no more pieces; a waiting producer wakes and gets `stopped`.
  void stop();

 private:
  std::unique_ptr<std::byte[]> storage_;
  std::unique_ptr<std::size_t[]> sizes_;
  const std::size_t capacity_;
  // Wake the other side only once a batch is ready, not for every piece.
  const std::size_t batch_;
  sync_lock lock_;
  sync_condition filled_;
  sync_condition emptied_;
  std::size_t head_ = 0;
  std::size_t count_ = 0;
  bool producerWaiting_ = false;
  bool consumerWaiting_ = false;
  bool done_ = false;
  bool stopped_ = false;
  std::uint64_t copied_ = 0;
  std::exception_ptr error_;
  int errorNumber_ = 0;
};

}  // namespace engine
