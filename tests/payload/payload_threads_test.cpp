#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <utility>

#include "payload/bzip2_blocks.h"
#include "payload/compress_error.h"
#include "payload/parallel_blocks.h"
#include "nv/unique_handle.h"
#include "payload/payload_test_support.h"

// Allocation failure injection for this test program: while a thread is named here, every
// operator new on any other thread fails, as with the address space used up. Otherwise it
// allocates as the runtime's own does, with malloc, which the runtime's operator delete frees.
static std::atomic<DWORD> only_allocating_thread{0};

void* operator new(std::size_t size) {
  const DWORD only = only_allocating_thread.load();
  if (only != 0 && ::GetCurrentThreadId() != only) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

namespace {

using namespace payload_test;

// Threads of this process right now.
int thread_count() {
  nv::unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry))
    count += entry.th32OwnerProcessID == ::GetCurrentProcessId();
  return count;
}

// True once the process is back to `count` threads; Wine may list a joined thread for a moment
// after it has ended.
bool back_to_threads(int count) {
  for (int i = 0; i < 50; ++i, ::Sleep(100))
    if (thread_count() == count) return true;
  return false;
}

// Six files of random bytes, 3.6 MB in all: several bzip2 blocks, many pieces per file.
class PayloadExtractionThreads : public ::testing::Test {
 protected:
  PayloadExtractionThreads() {
    std::mt19937 gen(4242);
    for (int i = 0; i < 6; ++i) {
      std::string content(600000 + 1000 * i, '\0');
      for (auto& c : content) c = static_cast<char>(gen() % 64);  // compressible, but not much
      files.push_back({L"f" + std::to_wstring(i) + L".bin", L"<InstallPath>", content});
    }
    archive = bzip2(plain_archive(files));
  }
  scratch_folder scratch;
  std::vector<test_file> files;
  std::string archive;
};

TEST_F(PayloadExtractionThreads, EveryCallbackRunsOnTheCallersThreadInFileOrder) {
  const DWORD caller = ::GetCurrentThreadId();
  bool elsewhere = false;
  recorder rec;
  rec.answer = [&](const event&, std::size_t) {
    elsewhere = elsewhere || ::GetCurrentThreadId() != caller;
    return engine::notification::result::proceed;
  };
  const fs::path install = scratch.path() / L"install";
  ASSERT_TRUE(extract(archive, install, rec));
  EXPECT_FALSE(elsewhere);
  ASSERT_EQ(rec.count(ev_end), files.size());
  for (std::size_t i = 0; i < files.size(); ++i)
    EXPECT_EQ(read_file(install / files[i].source), files[i].content) << i;
  // Progress rises by at most one 4096-byte piece at a time up to the total.
  std::uint64_t last = 0, total = 0;
  bool steps_ok = true;
  for (const event& e : rec.events) {
    if (e.kind != ev_progress) continue;
    if (last != 0) steps_ok = steps_ok && e.a > last && e.a - last <= 4096;
    last = e.a;
    total = e.b;
  }
  EXPECT_TRUE(steps_ok);
  EXPECT_EQ(last, total);
  ASSERT_EQ(rec.count(ev_finished), 1u);
  EXPECT_EQ(rec.events.back().a, archive.size());
}

TEST_F(PayloadExtractionThreads, AbortMidwayEndsTheRunAndItsDecompressingThreads) {
  const int before = thread_count();
  recorder rec;
  rec.answer = [](const event& e, std::size_t same) {
    return e.kind == ev_progress && same == 300 ? engine::notification::result::abort
                                                : engine::notification::result::proceed;
  };
  const fs::path install = scratch.path() / L"install";
  ASSERT_FALSE(extract(archive, install, rec));
  ASSERT_NE(rec.failure(), nullptr);
  EXPECT_EQ(rec.failure()->code, engine::compress_errc::interrupted);
  EXPECT_EQ(rec.failure()->path, (install / L"f2.bin").wstring());
  EXPECT_EQ(rec.count(ev_progress), 300u);
  EXPECT_TRUE(back_to_threads(before));
}

// Helper threads that can allocate nothing (the reading thread not even its window) leave the
// verification and the extraction to the plain decompression.
TEST_F(PayloadExtractionThreads, HelperThreadsWithoutMemoryLeaveTheRunToThePlainDecompression) {
  const int before = thread_count();
  std::istringstream in(archive);
  recorder rec;
  only_allocating_thread = ::GetCurrentThreadId();
  const bool verified = engine::verify_payload(in);
  const bool extracted = extract(archive, scratch.path(), rec);
  only_allocating_thread = 0;
  EXPECT_TRUE(verified);
  EXPECT_TRUE(extracted);
  EXPECT_EQ(rec.count(ev_end), files.size());
  EXPECT_TRUE(back_to_threads(before));
}

// Everything a run reports and leaves on disk, for comparing two runs.
struct run_record {
  bool ok = false;
  std::vector<event> events;
  std::vector<std::pair<std::wstring, std::string>> files;  // relative path, content
};

run_record run_extraction(std::istream& in, const fs::path& install,
                          const decltype(recorder::answer)& answer) {
  recorder rec;
  rec.answer = answer;
  run_record out;
  out.ok = engine::extract_payload(in, install.wstring(), (install / L"samples").wstring(),
                                   (install / L"tmp").wstring(), rec.callback());
  out.events = rec.events;
  // Paths are reported below each run's own folder; compare them relative to it.
  for (event& e : out.events)
    if (!e.path.empty()) e.path = fs::path(e.path).lexically_relative(install).wstring();
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(install, ec))
    if (entry.is_regular_file())
      out.files.emplace_back(entry.path().lexically_relative(install).wstring(), read_file(entry.path()));
  std::sort(out.files.begin(), out.files.end());
  return out;
}

void expect_same_runs(const run_record& side_by_side, const run_record& plain) {
  EXPECT_EQ(side_by_side.ok, plain.ok);
  ASSERT_EQ(side_by_side.events.size(), plain.events.size());
  for (std::size_t i = 0; i < plain.events.size(); ++i) {
    const event& a = side_by_side.events[i];
    const event& b = plain.events[i];
    if (a.kind != b.kind || a.path != b.path || a.a != b.a || a.b != b.b || a.code != b.code) {
      ADD_FAILURE() << "event " << i << " differs: kind " << a.kind << "/" << b.kind << ", values "
                    << a.a << "/" << b.a << ", code " << a.code.value() << "/" << b.code.value();
      return;
    }
  }
  EXPECT_TRUE(side_by_side.files == plain.files);
}

// Extracts `archive` from a stream that can be rewound (decompressed side by side) and from one
// that cannot (decompressed plainly) into two folders below `scratch`.
void expect_same_as_plain(const std::string& archive, const fs::path& scratch, int run,
                          const decltype(recorder::answer)& answer = {}) {
  std::istringstream seekable(archive);
  forward_only_buffer buffer(archive);
  std::istream forward_only(&buffer);
  const fs::path here = scratch / std::to_wstring(run);
  expect_same_runs(run_extraction(seekable, here / L"a", answer),
                   run_extraction(forward_only, here / L"b", answer));
}

// Nine blocks of 100k: intact, and with seeded damage of every kind, the run reports the same
// notifications with the same values and leaves the same files as the plain decompression.
TEST(PayloadExtractionSideBySide, ReportsAndWritesWhatThePlainDecompressionDoes) {
  std::mt19937 gen(77);
  std::vector<test_file> files;
  for (int i = 0; i < 5; ++i) {
    std::string content(180000 + 7000 * i, '\0');
    for (auto& c : content) c = static_cast<char>(gen() % (i == 2 ? 4 : 256));
    files.push_back({L"f" + std::to_wstring(i) + L".bin", L"<InstallPath>\\d", content});
  }
  const std::string archive = bzip2(plain_archive(files), 1);
  scratch_folder scratch;
  expect_same_as_plain(archive, scratch.path(), 0);
  for (int run = 1; run <= 60; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    std::string damaged = archive;
    switch (run % 3) {
      case 0: {
        const std::size_t at = gen() % damaged.size();
        damaged[at] = static_cast<char>(damaged[at] ^ (1 << (gen() % 8)));
        break;
      }
      case 1:
        damaged.resize(gen() % damaged.size());
        break;
      default:
        for (std::size_t n = 1 + gen() % 8; n > 0; --n) damaged.push_back(static_cast<char>(gen()));
    }
    expect_same_as_plain(damaged, scratch.path(), run);
  }
}

// A block of zeros decompresses to far more than a block is held for; it is decompressed as it
// is written, and the run still matches the plain one.
TEST(PayloadExtractionSideBySide, BlockTooLargeToHoldIsStreamedIntoTheFiles) {
  std::vector<test_file> files;
  files.push_back({L"zeros.bin", L"<InstallPath>", std::string(12 * 1024 * 1024 + 5, '\0')});
  files.push_back({L"after.txt", L"<InstallPath>", std::string(70000, 'q')});
  const std::string archive = bzip2(plain_archive(files));
  scratch_folder scratch;
  expect_same_as_plain(archive, scratch.path(), 0);
  EXPECT_EQ(read_file(scratch.path() / L"0" / L"a" / L"zeros.bin"), files[0].content);
  std::string damaged = archive;
  damaged[damaged.size() - 3] = static_cast<char>(damaged[damaged.size() - 3] ^ 0x40);
  expect_same_as_plain(damaged, scratch.path(), 1);
  // An abort while the large block is being written ends the run as the plain one ends.
  expect_same_as_plain(archive, scratch.path(), 2, [](const event& e, std::size_t same) {
    return e.kind == ev_progress && same == 1000 ? engine::notification::result::abort
                                                 : engine::notification::result::proceed;
  });
}

// Overwrites `count` bits of `bytes` from bit `bit` on with `value`, most significant first.
void put_bits(std::string& bytes, std::uint64_t bit, std::uint64_t value, unsigned count) {
  for (unsigned i = 0; i < count; ++i, ++bit) {
    auto& byte = reinterpret_cast<unsigned char&>(bytes[bit / 8]);
    const auto mask = static_cast<unsigned char>(0x80u >> (bit % 8));
    byte = (value >> (count - 1 - i)) & 1u ? byte | mask : byte & ~mask;
  }
}

// A block marker forged inside a block too large to hold, where the part before it, cut there
// and decompressed as a block of its own, yields more than a held block before its CRC fails.
// The side-by-side run must not write what that part yields: it reports and writes what the
// plain decompression does.
TEST(PayloadExtractionSideBySide, ForgedMarkerInsideABlockTooLargeToHoldWritesNothingUnproven) {
  namespace bz = engine::bzip2;
  std::mt19937 gen(11);
  std::string head(100000, '\0');
  for (auto& c : head) c = static_cast<char>(gen());
  // Blocks of 100k: the first holds the table and the random head, the second the zeros.
  const std::vector<test_file> files{{L"head.bin", L"<InstallPath>", head},
                                     {L"zeros.bin", L"<InstallPath>", std::string(1500000, 0)},
                                     {L"after.txt", L"<InstallPath>", std::string(70000, 'q')}};
  std::string damaged = bzip2(plain_archive(files), 1);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(damaged.data());
  std::vector<bz::marker> markers;
  bz::marker_scanner().scan(bytes, damaged.size(), markers);
  ASSERT_EQ(markers.size(), 3u);
  const std::uint64_t first = markers[1].bit, last = markers[2].bit;

  // A stored CRC of all ones: a run of ones is the end-of-block code of any table in which that
  // code is among the longest, so the part before the forged marker, continued by the end marker
  // and this CRC, can end as a block. Find a place where it then yields too much to hold.
  put_bits(damaged, first + bz::magic_bits, 0xFFFFFFFFu, bz::crc_bits);
  bz::decoder_memory memory;
  std::vector<std::uint8_t> stream, output(engine::parallel_blocks::largest_output);
  std::uint64_t forged = first + 128;
  for (; forged + bz::magic_bits < last; ++forged) {
    bz::single_block_stream(bytes, first, forged, damaged[3], stream);
    std::size_t produced = 0;
    if (bz::decompress_block(stream, memory, output.data(), output.size(), produced) ==
        bz::block_result::too_large)
      break;
  }
  ASSERT_LT(forged + bz::magic_bits, last) << "no place where the cut part yields enough";
  put_bits(damaged, forged, bz::block_magic, bz::magic_bits);

  scratch_folder scratch;
  expect_same_as_plain(damaged, scratch.path(), 0);
}

}  // namespace
