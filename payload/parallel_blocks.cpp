#include "payload/parallel_blocks.h"

namespace engine {

struct parallel_blocks::slot {
  enum state_t { free, queued, working, done } state = free;
  item::kind_t kind = item::block;
  std::vector<std::uint8_t> stream;
  std::unique_ptr<std::uint8_t[]> output;
  std::size_t size = 0;
};

template <typename Work>
void parallel_blocks::guarded(Work work) noexcept {
  try {
    work();
  } catch (...) {
    lock_.lock();
    abandoned_ = true;
    lock_.unlock();
    changed_.notify_all();
  }
}

parallel_blocks::parallel_blocks(std::istream& in, unsigned threads, bool keep_output)
    : keep_(keep_output), capacity_(threads + 2), slots_(new slot[threads + 2]) {
  // Every buffer at its full size from the start: the memory used does not depend on the data.
  for (std::size_t i = 0; i < capacity_; ++i) {
    slots_[i].stream.resize(bzip2::longest_block_stream);
    slots_[i].stream.clear();
    if (keep_) slots_[i].output.reset(new std::uint8_t[largest_output]());
  }
  try {
    threads_.reserve(threads + 1);
    threads_.emplace_back([this, &in] { guarded([&] { split(in); }); });
    for (unsigned i = 0; i < threads; ++i)
      threads_.emplace_back([this] { guarded([this] { decompress(); }); });
  } catch (...) {
    stop();  // a thread could not be started: end those that were
    throw;
  }
}

parallel_blocks::~parallel_blocks() { stop(); }

void parallel_blocks::stop() noexcept {
  lock_.lock();
  stopping_ = true;
  lock_.unlock();
  changed_.notify_all();
  for (std::thread& t : threads_)
    if (t.joinable()) t.join();
}

void parallel_blocks::split(std::istream& in) {
  bzip2::block_splitter splitter(in);
  for (;;) {
    lock_.lock();
    changed_.wait(lock_, [this] { return stopping_ || produced_ - consumed_ < capacity_; });
    if (stopping_) {
      lock_.unlock();
      return;
    }
    slot& s = slots_[produced_ % capacity_];
    lock_.unlock();

    // The slot is free: nobody else touches it until it is queued.
    auto step = bzip2::block_splitter::step::unproven;
    try {
      step = splitter.next(s.stream);
    } catch (...) {
    }
    lock_.lock();
    if (step == bzip2::block_splitter::step::block) {
      s.state = slot::queued;
    } else {
      s.kind = step == bzip2::block_splitter::step::end ? item::end : item::unproven;
      s.state = slot::done;
      bytesRead_ = splitter.bytes_read();
    }
    ++produced_;
    lock_.unlock();
    changed_.notify_all();
    if (step != bzip2::block_splitter::step::block) return;
  }
}

void parallel_blocks::decompress() {
  bzip2::decoder_memory memory;
  for (;;) {
    slot* work = nullptr;
    lock_.lock();
    changed_.wait(lock_, [&] {
      if (stopping_) return true;
      // The oldest queued block first: the caller waits for blocks in order.
      for (std::uint64_t n = consumed_; n < produced_ && !work; ++n)
        if (slots_[n % capacity_].state == slot::queued) work = &slots_[n % capacity_];
      return work != nullptr;
    });
    if (stopping_) {
      lock_.unlock();
      return;
    }
    work->state = slot::working;
    lock_.unlock();

    auto result = bzip2::block_result::broken;
    try {
      result = bzip2::decompress_block(work->stream, memory, keep_ ? work->output.get() : nullptr,
                                       largest_output, work->size);
    } catch (...) {
    }
    lock_.lock();
    work->kind = result == bzip2::block_result::intact      ? item::block
                 : result == bzip2::block_result::too_large ? item::oversized
                                                            : item::unproven;
    work->state = slot::done;
    lock_.unlock();
    changed_.notify_all();
  }
}

parallel_blocks::item parallel_blocks::next() {
  lock_.lock();
  changed_.wait(lock_, [this] {
    return abandoned_ ||
           (consumed_ < produced_ && slots_[consumed_ % capacity_].state == slot::done);
  });
  if (abandoned_) {
    lock_.unlock();
    return item{item::unproven};
  }
  slot& s = slots_[consumed_ % capacity_];
  lock_.unlock();
  item result{s.kind};
  if (s.kind == item::block) {
    result.bytes = s.output.get();
    result.size = s.size;
  }
  if (s.kind == item::oversized) result.stream = &s.stream;
  return result;
}

void parallel_blocks::release() {
  lock_.lock();
  slots_[consumed_ % capacity_].state = slot::free;
  ++consumed_;
  lock_.unlock();
  changed_.notify_all();
}

bool verify_blocks_in_parallel(std::istream& payload, unsigned threads) {
  if (threads == 0) return false;
  parallel_blocks blocks(payload, threads, false);
  for (;;) {
    const auto item = blocks.next();
    if (item.kind != parallel_blocks::item::block) return item.kind == parallel_blocks::item::end;
    blocks.release();
  }
}

}  // namespace engine
