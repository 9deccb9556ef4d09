#include <gtest/gtest.h>

#include <chrono>

#include <shlobj.h>

#include "payload/file_crc32.h"
#include "machine/machine_folders.h"
#include "nv/unique_handle.h"
#include "nv/link_test_support.h"
#include "nv/product_test_support.h"
#include "payload/payload_test_support.h"
#include "nv/crc32.h"

namespace {

using namespace payload_test;

fs::path helper_program() {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return fs::path(self).parent_path() / L"payload_hold_file.exe";
}

// A second process holding the file being proven: the proof is retried after 1, 2 and 3 seconds
// and the fourth sharing violation fails the run with system code 32 and that file's path.
TEST(PayloadSharing, FileHeldByAnotherProcessIsRetriedThreeTimesThenFails) {
  const fs::path helper = helper_program();
  ASSERT_TRUE(fs::exists(helper)) << helper;
  scratch_folder scratch;
  const fs::path target = scratch.path() / L"held.bin";
  const std::wstring event_name = L"payload_hold_" + std::to_wstring(::GetCurrentProcessId());
  nv::unique_handle ready(::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  ASSERT_TRUE(ready);
  nv::unique_handle holder_process;
  bool holder_ready = false;

  std::vector<test_file> files{{L"held.bin", L"<InstallPath>", "content proven while held", engine::PayloadKind::Sample}};
  recorder rec;
  std::chrono::steady_clock::time_point held_at;
  rec.answer = [&](const event& e, std::size_t) {
    // The last progress of the file comes after its bytes were written and before it is proven.
    if (e.kind == ev_progress && e.a == e.b && !holder_process) {
      std::wstring command = L"\"" + helper.wstring() + L"\" \"" + target.wstring() + L"\" " + event_name;
      STARTUPINFOW si{sizeof si};
      PROCESS_INFORMATION pi{};
      if (::CreateProcessW(helper.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        nv::unique_handle thread(pi.hThread);
        holder_process.reset(pi.hProcess);
        holder_ready = ::WaitForSingleObject(ready.get(), 20000) == WAIT_OBJECT_0;
      }
      held_at = std::chrono::steady_clock::now();
    }
    return engine::notification::result::proceed;
  };
  const bool ok = extract(bzip2(plain_archive(files)), scratch.path(), rec);
  const auto waited = std::chrono::steady_clock::now() - held_at;
  if (holder_process) {
    ::TerminateProcess(holder_process.get(), 0);
    ::WaitForSingleObject(holder_process.get(), 5000);
  }
  ASSERT_TRUE(holder_ready) << "the helper did not take hold of the file";
  EXPECT_FALSE(ok);
  ASSERT_EQ(rec.count(ev_failed), 1u);
  EXPECT_EQ(rec.failure()->code, std::error_code(ERROR_SHARING_VIOLATION, std::system_category()));
  EXPECT_EQ(fs::path(rec.failure()->path), target);
  EXPECT_EQ(rec.count(ev_end), 0u);
  EXPECT_GE(waited, std::chrono::milliseconds(2900));
  EXPECT_LT(waited, std::chrono::seconds(8));
  // Once released, the same file is proven without delay.
  EXPECT_EQ(engine::file_crc32(target), nv::crc32::of(files[0].content.data(), files[0].content.size()));
}

TEST(PayloadSharing, MissingFileFailsAtOnceWithItsSystemCode) {
  scratch_folder scratch;
  const auto start = std::chrono::steady_clock::now();
  try {
    engine::file_crc32(scratch.path() / L"absent.bin");
    ADD_FAILURE() << "no failure for a missing file";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code(), std::error_code(ERROR_FILE_NOT_FOUND, std::system_category()));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
}

// The extractor itself refuses to write through a link below the all-users data, whoever calls it.
TEST(PayloadSharing, NothingIsWrittenThroughALinkBelowTheAllUsersData) {
  scratch_folder scratch;
  const nv_test::temp_folder common(nv_test::system_folder(CSIDL_COMMON_APPDATA));
  const fs::path& planted = common.path();
  std::vector<test_file> files{{L"metal.mat",
                                L"<CommonData>\\" + planted.filename().native() + L"\\Materials",
                                "metal", engine::PayloadKind::SharedData}};
  recorder rec;
  bool ok;
  {
    const nv_test::planted_links links({planted.native()});
    ok = extract(bzip2(plain_archive(files)), scratch.path(), rec);
  }
  EXPECT_FALSE(ok);
  ASSERT_EQ(rec.count(ev_failed), 1u);
  EXPECT_EQ(rec.failure()->code, std::error_code(ERROR_CANT_ACCESS_FILE, std::system_category()));
  EXPECT_TRUE(fs::is_empty(planted)) << "no folder made or file written through the link";
}

}  // namespace
