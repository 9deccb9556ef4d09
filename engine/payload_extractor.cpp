#include "engine/payload_extractor.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <ios>
#include <new>
#include <system_error>
#include <thread>

#include <boost/iostreams/categories.hpp>
#include <boost/iostreams/filter/bzip2.hpp>

#include "engine/compress_error.h"
#include "engine/decompression_pipe.h"
#include "engine/parallel_verify.h"
#include "engine/payload_sink.h"

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

// Device that hands each decompressed block on through a decompression_pipe.
struct pipe_device {
  using char_type = char;
  using category = io::sink_tag;

  decompression_pipe* pipe;

  std::streamsize write(const char* s, std::streamsize n) {
    for (std::streamsize done = 0; done < n;) {
      const auto piece = std::min<std::streamsize>(n - done, decompression_pipe::piece_size);
      pipe->put(s + done, static_cast<std::size_t>(piece));
      done += piece;
    }
    return n;
  }
};

// Device that only discards what the verifying pass decompresses.
struct discard_device {
  using char_type = char;
  using category = io::sink_tag;
  std::streamsize write(const char*, std::streamsize n) { return n; }
};

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
    const char* next = block.data();
    std::streamsize left = got;
    while (left > 0) {
      const std::streamsize used = decompressor.write(device, next, left);
      // Each call either consumes input or starts a following bzip2 stream; none consuming
      // nothing would spin forever.
      if (used <= 0) throw std::system_error(compress_errc::bzip2_failure);
      next += used;
      left -= used;
    }
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

// Pieces held between the decompressing and the writing thread (1 MiB): enough to keep the
// decompressor busy while a finished file is read back for its CRC.
constexpr std::size_t pipe_pieces = 256;

unsigned processors() {
  const unsigned count = std::thread::hardware_concurrency();
  return count == 0 ? 1 : count;
}

// Ends the decompressing thread when the writing side leaves, normally or by a failure.
class helper_thread {
 public:
  helper_thread(decompression_pipe& pipe, std::thread thread) : pipe_(pipe), thread_(std::move(thread)) {}
  ~helper_thread() {
    pipe_.stop();
    thread_.join();
  }
  helper_thread(const helper_thread&) = delete;
  helper_thread& operator=(const helper_thread&) = delete;

 private:
  decompression_pipe& pipe_;
  std::thread thread_;
};

// Decompresses into the sink. With more than one processor the decompressor runs on a helper
// thread while this thread writes, proves and reports; the sink receives the same pieces in the
// same order either way, and every callback runs on this thread.
std::uint64_t decompress_into(std::istream& payload, PayloadSink& sink) {
  sink_device device{&sink};
  if (processors() < 2) return decompress(payload, device);
  decompression_pipe pipe(pipe_pieces);
  std::thread thread;
  try {
    thread = std::thread([&payload, &pipe] {
      try {
        pipe_device out{&pipe};
        pipe.finish(decompress(payload, out));
      } catch (...) {
        pipe.fail(std::current_exception(), errno);
      }
    });
  } catch (const std::system_error&) {
    return decompress(payload, device);  // no thread to be had: decompress here
  }
  helper_thread helper(pipe, std::move(thread));
  while (auto piece = pipe.next()) {
    device.write(reinterpret_cast<const char*>(piece->bytes), static_cast<std::streamsize>(piece->count));
    pipe.release();
  }
  return pipe.result();
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
      if (sink.total() == 0 || sink.processed() != sink.total())
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

bool verify_payload(std::istream& payload) {
  // The blocks are proven on every processor at once; what that cannot prove is decided by the
  // plain decompression from the same starting point.
  if (processors() >= 2) {
    const auto start = payload.tellg();
    if (start != std::istream::pos_type(-1)) {
      try {
        if (verify_blocks_in_parallel(payload, processors())) return true;
      } catch (...) {
      }
      payload.clear();
      payload.seekg(start);
      if (!payload) return false;
    }
  }
  try {
    discard_device device;
    decompress(payload, device);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace engine
