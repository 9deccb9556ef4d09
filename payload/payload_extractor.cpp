#include "payload/payload_extractor.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <ios>
#include <new>
#include <optional>
#include <span>
#include <system_error>
#include <thread>

#include <boost/iostreams/categories.hpp>
#include <boost/iostreams/filter/bzip2.hpp>

#include "payload/bzip2_blocks.h"
#include "payload/compress_error.h"
#include "payload/embedded_payload.h"
#include "payload/parallel_blocks.h"
#include "payload/payload_sink.h"
#include "payload/payload_table_reader.h"

namespace engine {
namespace {

namespace io = boost::iostreams;

constexpr std::size_t block_size = 4096;

// Device at the end of the decompressor: offers each decompressed block to the PayloadSink
// until the sink has consumed all of it.
struct sink_device {
  using char_type = char;
  using category = io::sink_tag;

  PayloadSink* sink;

  std::streamsize write(const char* s, std::streamsize n) {
    const auto* bytes = reinterpret_cast<const std::byte*>(s);
    std::size_t done = 0;
    const auto count = static_cast<std::size_t>(n);
    while (done < count) done += sink->write(bytes + done, count - done);
    return n;
  }
};

// Device that passes over the first `skip` bytes and offers the rest to `next`: the plain
// decompression taking over from the parallel one after the bytes the sink already has.
struct skipping_device {
  using char_type = char;
  using category = io::sink_tag;

  sink_device* next;
  std::uint64_t skip;

  std::streamsize write(const char* s, std::streamsize n) {
    const auto passed =
        static_cast<std::streamsize>(std::min(skip, static_cast<std::uint64_t>(n)));
    skip -= static_cast<std::uint64_t>(passed);
    if (passed < n) next->write(s + passed, n - passed);
    return n;
  }
};

// Device of the verifying pass: checks the header and table as the extraction would, through a
// payload_table_reader, and discards everything after them.
struct table_checking_device {
  using char_type = char;
  using category = io::sink_tag;

  payload_table_reader* table;

  std::streamsize write(const char* s, std::streamsize n) {
    const auto* bytes = reinterpret_cast<const std::byte*>(s);
    auto count = static_cast<std::size_t>(n);
    while (count > 0 && !table->complete()) {
      const std::size_t took = table->take(bytes, count);
      bytes += took;
      count -= took;
    }
    return n;
  }
};

// Offers `count` compressed bytes to `decompressor`, whose output goes to `device`.
template <typename Device>
void feed(io::bzip2_decompressor& decompressor, Device& device, const char* next,
          std::streamsize count) {
  while (count > 0) {
    const std::streamsize used = decompressor.write(device, next, count);
    // Each call either consumes input or starts a following bzip2 stream; none consuming
    // nothing would spin forever.
    if (used <= 0) throw std::system_error(compress_errc::bzip2_failure);
    next += used;
    count -= used;
  }
}

// Feeds the whole stream through a bzip2 decompressor (normal, not small-memory; 4096-byte
// output buffer) into `device`, then closes the decompressor, which checks the end of the bzip2
// stream. Returns the number of compressed bytes read. Throws on any failure.
template <typename Device>
std::uint64_t decompress(std::istream& payload, Device& device) {
  io::bzip2_decompressor decompressor(false, static_cast<std::streamsize>(block_size));
  std::array<char, block_size> block;
  std::uint64_t copied = 0;
  while (payload) {
    payload.read(block.data(), static_cast<std::streamsize>(block.size()));
    const std::streamsize got = payload.gcount();
    if (got <= 0) break;
    copied += static_cast<std::uint64_t>(got);
    feed(decompressor, device, block.data(), got);
  }
  if (payload.bad()) throw std::ios_base::failure("payload read");
  if (copied == 0) {
    // Nothing to flush: an empty archive ends short of a table rather than as broken bzip2.
    decompressor.close(device, std::ios_base::in);
    return copied;
  }
  decompressor.close(device, std::ios_base::out);
  return copied;
}

// Decompresses the stream plainly only as far as its header and table reach, and checks them as
// the extraction would. False when the table is refused or the bzip2 data before its end is
// broken; a stream that ends first is left to the verification of the whole, since data short of
// its table is a failure of the extraction alone.
bool table_passes(std::istream& payload) {
  try {
    io::bzip2_decompressor decompressor(false, static_cast<std::streamsize>(block_size));
    payload_table_reader table;
    table_checking_device device{&table};
    std::array<char, block_size> block;
    bool any = false;
    while (payload && !table.complete()) {
      payload.read(block.data(), static_cast<std::streamsize>(block.size()));
      const std::streamsize got = payload.gcount();
      if (got <= 0) break;
      any = true;
      feed(decompressor, device, block.data(), got);
    }
    if (table.complete()) return true;
    if (payload.bad()) return false;
    // The whole stream was read: the decompressor still holds its last output, which closing
    // hands over, checking the end of the stream as the verification of the whole would.
    if (any) decompressor.close(device, std::ios_base::out);
    return true;
  } catch (...) {
    return false;
  }
}

// Threads that decompress blocks side by side: one per processor, at most four, which bounds
// the memory held for blocks in work (about 2 MiB each, plus a decompressor's 3.6 MiB).
unsigned decompression_threads() {
  const unsigned count = std::thread::hardware_concurrency();
  return std::clamp(count, 1u, 4u);
}

// Cuts decompressed bytes into the pieces the plain decompressor's 4096-byte output buffer makes
// (every piece but the last full, at the same offsets), so that the sink sees the same writes
// and the same progress whichever way the bytes were decompressed.
class piece_feeder {
 public:
  explicit piece_feeder(sink_device& device) : device_(device) {}
  void feed(const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
      if (held_ == 0 && count >= block_size) {
        deliver(bytes, block_size);
        bytes += block_size;
        count -= block_size;
        continue;
      }
      const std::size_t take = std::min(count, block_size - held_);
      std::copy(bytes, bytes + take, piece_.begin() + static_cast<std::ptrdiff_t>(held_));
      held_ += take;
      bytes += take;
      count -= take;
      if (held_ == block_size) {
        held_ = 0;
        deliver(piece_.data(), block_size);
      }
    }
  }
  // The last, partial piece: only once the whole stream is proven.
  void finish() {
    if (held_ > 0) deliver(piece_.data(), held_);
    held_ = 0;
  }
  // Bytes the sink has received.
  std::uint64_t delivered() const noexcept { return delivered_; }

 private:
  void deliver(const std::uint8_t* bytes, std::size_t count) {
    delivered_ += count;
    device_.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
  }
  sink_device& device_;
  std::array<std::uint8_t, block_size> piece_;
  std::size_t held_ = 0;
  std::uint64_t delivered_ = 0;
};

// Device that hands decompressed bytes to a piece_feeder.
struct feeding_device {
  using char_type = char;
  using category = io::sink_tag;
  piece_feeder* feeder;
  std::streamsize write(const char* s, std::streamsize n) {
    feeder->feed(reinterpret_cast<const std::uint8_t*>(s), static_cast<std::size_t>(n));
    return n;
  }
};

// Whether a block too large to hold, as a stream of its own, decompresses with its CRC right.
// Its end marker may be a false one found inside compressed data: cut there, the block can still
// yield bytes before its CRC fails, bytes the plain decompression would never produce.
bool proven_alone(const std::vector<std::uint8_t>& stream) {
  try {
    bzip2::decoder_memory memory;
    std::size_t produced = 0;
    return bzip2::decompress_block(stream, memory, nullptr, 0, produced) ==
           bzip2::block_result::intact;
  } catch (...) {
    return false;  // no memory to prove it: the plain decompression decides
  }
}

// Decompresses a block too large to hold, once proven, as a stream of its own straight into
// `feeder`; false when it is not proven, and nothing has then reached the sink.
bool feed_streaming(const std::vector<std::uint8_t>& stream, piece_feeder& feeder) {
  if (!proven_alone(stream)) return false;
  byte_range_stream in(std::as_bytes(std::span(stream)));
  feeding_device device{&feeder};
  try {
    decompress(in, device);
    return true;
  } catch (const io::bzip2_error&) {
    return false;
  } catch (const std::system_error& e) {
    // A decompressor that took nothing; what the sink raised travels on.
    if (e.code() != compress_errc::bzip2_failure) throw;
    return false;
  }
}

// Decompresses into the sink. With more than one processor the blocks are decompressed side by
// side while this thread writes, proves and reports; whatever that cannot prove is decompressed
// plainly from the start, passing over what the sink already has. The sink receives the same
// pieces in the same order either way, and every callback runs on this thread.
std::uint64_t decompress_into(std::istream& payload, PayloadSink& sink) {
  sink_device device{&sink};
  const unsigned threads = decompression_threads();
  const auto start = payload.tellg();
  if (threads < 2 || start == std::istream::pos_type(-1)) return decompress(payload, device);
  piece_feeder feeder(device);
  std::optional<parallel_blocks> blocks;
  try {
    blocks.emplace(payload, threads, true);
  } catch (const std::exception&) {
    // No threads or no memory for them to be had: everything goes the plain way.
  }
  for (bool more = blocks.has_value(); more;) {
    const auto item = blocks->next();
    switch (item.kind) {
      case parallel_blocks::item::block:
        feeder.feed(item.bytes, item.size);
        break;
      case parallel_blocks::item::oversized:
        more = feed_streaming(*item.stream, feeder);
        break;
      case parallel_blocks::item::end:
        feeder.finish();
        return blocks->bytes_read();
      case parallel_blocks::item::unproven:
        more = false;
        break;
    }
    if (more) blocks->release();
  }
  blocks.reset();
  payload.clear();
  payload.seekg(start);
  if (!payload) throw std::ios_base::failure("payload rewind");
  skipping_device rest{&device, feeder.delivered()};
  return decompress(payload, rest);
}

// The error code of the failure in flight (called inside a catch handler).
std::error_code current_error_code(std::filesystem::path& fs_path) {
  try {
    throw;
  } catch (const io::bzip2_error&) {
    return compress_errc::bzip2_failure;
  } catch (const std::ios_base::failure& e) {
    // A stream failure: the runtime's errno when it recorded one; the iostream code itself
    // says nothing about the cause.
    if (errno != 0) return {errno, std::generic_category()};
    if (e.code().category() == std::iostream_category()) return compress_errc::unexpected;
    return e.code();
  } catch (const std::filesystem::filesystem_error& e) {
    fs_path = e.path1();
    return e.code();
  } catch (const std::system_error& e) {
    return e.code();
  } catch (...) {
    return compress_errc::unexpected;
  }
}

}  // namespace

bool extract_payload(std::istream& payload, const std::wstring& installFolder,
                     const std::wstring& samplesFolder, const std::wstring& temporaryFolder,
                     const payload_callback& callback) {
  std::error_code code;
  std::wstring path;
  errno = 0;
  try {
    callback(started{});
    PayloadSink sink(installFolder, samplesFolder, temporaryFolder, callback);
    try {
      const std::uint64_t copied = decompress_into(payload, sink);
      if (!sink.complete() || sink.processed() != sink.total())
        throw std::system_error(compress_errc::unexpected, "payload ends short of its table");
      try {
        callback(finished{copied, sink.total()});
      } catch (...) {
        // The run is complete; the answer to finished, even a failing one, changes nothing.
      }
      return true;
    } catch (...) {
      std::filesystem::path fs_path;
      code = current_error_code(fs_path);
      if (auto target = sink.current_target())
        path = target->wstring();
      else
        path = fs_path.wstring();
    }
  } catch (...) {
    // started, or building the sink, failed.
    std::filesystem::path fs_path;
    code = current_error_code(fs_path);
    path = fs_path.wstring();
  }
  // The sink and its open output file are released by now; a partly written file stays.
  try {
    callback(failed{code, path});
  } catch (...) {
  }
  return false;
}

bool verify_payload_table(std::istream& payload) { return table_passes(payload); }

bool verify_payload(std::istream& payload) {
  // The table first, from the first decompressed bytes alone; then the blocks are proven on
  // every processor at once. What that cannot prove is decided by the plain decompression from
  // the same starting point, which checks the table again on its way.
  if (const unsigned threads = decompression_threads(); threads >= 2) {
    const auto start = payload.tellg();
    if (start != std::istream::pos_type(-1)) {
      if (!table_passes(payload)) return false;
      payload.clear();
      payload.seekg(start);
      if (!payload) return false;
      try {
        if (verify_blocks_in_parallel(payload, threads)) return true;
      } catch (...) {
      }
      payload.clear();
      payload.seekg(start);
      if (!payload) return false;
    }
  }
  try {
    payload_table_reader table;
    table_checking_device device{&table};
    decompress(payload, device);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace engine
