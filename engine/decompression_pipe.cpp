#include "engine/decompression_pipe.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace engine {

decompression_pipe::decompression_pipe(std::size_t pieces)
    : storage_(new std::byte[pieces * piece_size]),
      sizes_(new std::size_t[pieces]),
      capacity_(pieces),
      batch_(std::max<std::size_t>(1, pieces / 8)) {}

void decompression_pipe::put(const char* bytes, std::size_t count) {
  lock_.lock();
  emptied_.wait(lock_, [this] {
    producerWaiting_ = count_ == capacity_ && !stopped_;
    return !producerWaiting_;
  });
  if (stopped_) {
    lock_.unlock();
    throw stopped{};
  }
  // Only the producer fills the slot after the last queued one.
  const std::size_t slot = (head_ + count_) % capacity_;
  lock_.unlock();

  std::memcpy(storage_.get() + slot * piece_size, bytes, std::min(count, piece_size));
  sizes_[slot] = std::min(count, piece_size);

  lock_.lock();
  ++count_;
  const bool wake = consumerWaiting_ && count_ >= batch_;
  lock_.unlock();
  if (wake) filled_.notify_all();
}

void decompression_pipe::finish(std::uint64_t copied) {
  lock_.lock();
  copied_ = copied;
  done_ = true;
  lock_.unlock();
  filled_.notify_all();
}

void decompression_pipe::fail(std::exception_ptr error, int error_number) {
  lock_.lock();
  error_ = std::move(error);
  errorNumber_ = error_number;
  done_ = true;
  lock_.unlock();
  filled_.notify_all();
}

std::optional<decompression_pipe::piece> decompression_pipe::next() {
  lock_.lock();
  filled_.wait(lock_, [this] {
    consumerWaiting_ = count_ == 0 && !done_;
    return !consumerWaiting_;
  });
  const std::size_t slot = head_;
  const bool any = count_ > 0;
  lock_.unlock();
  if (!any) return std::nullopt;
  return piece{storage_.get() + slot * piece_size, sizes_[slot]};
}

void decompression_pipe::release() {
  lock_.lock();
  head_ = (head_ + 1) % capacity_;
  --count_;
  const bool wake = producerWaiting_ && count_ + batch_ <= capacity_;
  lock_.unlock();
  if (wake) emptied_.notify_all();
}

std::uint64_t decompression_pipe::result() {
  lock_.lock();
  std::exception_ptr error = error_;
  const int number = errorNumber_;
  const std::uint64_t copied = copied_;
  lock_.unlock();
  if (error) {
    errno = number;
    std::rethrow_exception(error);
  }
  return copied;
}

void decompression_pipe::stop() {
  lock_.lock();
  stopped_ = true;
  lock_.unlock();
  emptied_.notify_all();
}

}  // namespace engine
