#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <random>

#include "engine/compress_error.h"
#include "nv/unique_handle.h"
#include "payload_test_support.h"

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

TEST_F(PayloadExtractionThreads, AbortMidwayEndsTheRunAndItsDecompressingThread) {
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

TEST_F(PayloadExtractionThreads, DamageInALaterBlockFailsAfterTheEarlierFilesEnded) {
  const int before = thread_count();
  std::string damaged = archive;
  damaged[damaged.size() * 4 / 5] ^= 0x08;
  recorder rec;
  const fs::path install = scratch.path() / L"install";
  ASSERT_FALSE(extract(damaged, install, rec));
  ASSERT_NE(rec.failure(), nullptr);
  // libbz2 hands out a block's bytes before it checks the block's CRC, so a damaged block may
  // first show as a file that fails its own CRC.
  const auto code = rec.failure()->code;
  EXPECT_TRUE(code == engine::compress_errc::bzip2_failure || code == engine::compress_errc::invalid_checksum)
      << code.value();
  EXPECT_GE(rec.count(ev_end), 1u);
  EXPECT_LT(rec.count(ev_end), files.size());
  EXPECT_FALSE(rec.failure()->path.empty());
  EXPECT_TRUE(back_to_threads(before));
}

}  // namespace
