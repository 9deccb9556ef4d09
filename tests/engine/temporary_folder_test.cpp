#include "engine/temporary_folder.h"

#include <windows.h>

#include <regex>
#include <string>

#include <boost/uuid/entropy_error.hpp>
#include <boost/uuid/uuid.hpp>
#include <gtest/gtest.h>

#include "engine/win_handle.h"
#include "journal_test_support.h"

namespace {

using engine::CTemporaryFolder;
using engine::MakeTemporaryFolderName;
using journal_test::write_text;
namespace fs = std::filesystem;

const std::wstring kPrefix = L"nuvelle_{";

boost::uuids::uuid FailingRandomSource() {
  throw boost::uuids::entropy_error(static_cast<std::int32_t>(0xC0000001), "BCryptGenRandom");
}

class TemporaryFolder : public ::testing::Test {
 protected:
  journal_test::private_folders folders_;
  std::wstring base_ = folders_.system_temp().wstring() + L"\\";
};

TEST_F(TemporaryFolder, NamesAreFreshVersion4UuidsUnderTheSystemTemporaryFolder) {
  std::wstring first, second, error;
  ASSERT_TRUE(MakeTemporaryFolderName(first, error));
  ASSERT_TRUE(MakeTemporaryFolderName(second, error));
  EXPECT_NE(first, second);
  for (const std::wstring& name : {first, second}) {
    ASSERT_EQ(name.size(), base_.size() + kPrefix.size() + 36 + 1) << name;
    EXPECT_EQ(name.substr(0, base_.size() + kPrefix.size()), base_ + kPrefix);
    EXPECT_EQ(name.back(), L'}');
    const std::wstring uuid = name.substr(base_.size() + kPrefix.size(), 36);
    EXPECT_TRUE(std::regex_match(uuid, std::wregex(L"[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-"
                                                   L"[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
        << uuid;
    EXPECT_EQ(uuid[14], L'4');
    EXPECT_NE(std::wstring(L"89ab").find(uuid[19]), std::wstring::npos);
    EXPECT_FALSE(fs::exists(name));  // only composed, never created
  }
}

TEST_F(TemporaryFolder, FailuresReportCodeAndCallAndLeaveTheSettingAlone) {
  const std::wregex format(L"[0-9a-f]{8} \\((.*)\\)");
  std::wsmatch match;
  std::wstring folder = L"unchanged", error;

  // A temporary folder longer than 246 characters cannot be worked in.
  const std::wstring too_long = base_ + std::wstring(246 - base_.size(), L'a') + L"\\";
  {
    journal_test::temp_path_override tmp(too_long);
    EXPECT_FALSE(MakeTemporaryFolderName(folder, error));
  }
  ASSERT_TRUE(std::regex_match(error, match, format)) << error;
  EXPECT_EQ(match[1].str(), L"GetTempPath");

  // A usable temporary folder whose composed path would pass 259 characters: refused, not cut.
  const std::wstring deep = base_ + std::wstring(240 - base_.size(), L'b') + L"\\";
  fs::create_directories(deep);
  error.clear();
  {
    journal_test::temp_path_override tmp(deep);
    EXPECT_FALSE(MakeTemporaryFolderName(folder, error));
  }
  EXPECT_EQ(error, L"000000ce (PathAppend)");
  EXPECT_TRUE(fs::is_empty(deep));

  // The random source failing names the call that failed.
  error.clear();
  EXPECT_FALSE(MakeTemporaryFolderName(folder, error, FailingRandomSource));
  EXPECT_EQ(error, L"c0000001 (BCryptGenRandom)");
  EXPECT_EQ(folder, L"unchanged");

  // The longest composed path that fits is accepted whole.
  const std::wstring fits = base_ + std::wstring(212 - base_.size(), L'c') + L"\\";
  journal_test::temp_path_override tmp(fits);
  ASSERT_TRUE(MakeTemporaryFolderName(folder, error));
  EXPECT_EQ(folder.size(), 259u);
  EXPECT_EQ(folder.substr(0, fits.size()), fits);
}

TEST_F(TemporaryFolder, RemovesItsFilesIncludingReadOnlyThenTheFolder) {
  const fs::path folder = folders_.root() / L"work";
  {
    CTemporaryFolder temporary(folder.wstring());
    EXPECT_EQ(engine::currentTemporaryFolder, &temporary);
    fs::create_directories(folder);
    for (const wchar_t* name : {L"dxsetup.dll", L"a.cab"}) {
      temporary.AddFile((folder / name).wstring());
      write_text(folder / name, "x");
    }
    ASSERT_TRUE(::SetFileAttributesW((folder / L"a.cab").c_str(), FILE_ATTRIBUTE_READONLY));
    temporary.AddFile((folder / L"never-written.cab").wstring());
  }
  EXPECT_EQ(engine::currentTemporaryFolder, nullptr);
  EXPECT_FALSE(fs::exists(folder));

  // Without temporary entries the folder is never created and its removal fails silently.
  std::wstring name, error;
  ASSERT_TRUE(MakeTemporaryFolderName(name, error));
  { CTemporaryFolder temporary(name); }
  EXPECT_FALSE(fs::exists(name));
  EXPECT_TRUE(fs::is_empty(folders_.system_temp()));
}

TEST_F(TemporaryFolder, ALockedFileStaysWithItsFolderWhileTheOthersGo) {
  const fs::path folder = folders_.root() / L"locked";
  fs::create_directories(folder);
  const fs::path held = folder / L"held.cab";
  write_text(held, "held");
  write_text(folder / L"free.cab", "free");

  // A second process keeps `held` open without delete sharing.
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  const fs::path helper = fs::path(self).parent_path() / L"payload_hold_file.exe";
  const std::wstring event_name = nv_test::unique_name(L"nv_temporary_folder_ready_");
  engine::win_handle ready(::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  ASSERT_TRUE(ready);
  std::wstring command = L"\"" + helper.wstring() + L"\" \"" + held.wstring() + L"\" " + event_name;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(::CreateProcessW(helper.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi));
  engine::win_handle thread(pi.hThread);
  engine::win_handle process(pi.hProcess);
  const bool holding = ::WaitForSingleObject(ready.get(), 20000) == WAIT_OBJECT_0;

  if (holding) {
    CTemporaryFolder temporary(folder.wstring());
    temporary.AddFile(held.wstring());
    temporary.AddFile((folder / L"free.cab").wstring());
  }
  ::TerminateProcess(process.get(), 0);
  ::WaitForSingleObject(process.get(), 5000);
  ASSERT_TRUE(holding) << "the helper did not take hold of the file";
  EXPECT_TRUE(fs::exists(held));
  EXPECT_FALSE(fs::exists(folder / L"free.cab"));
  EXPECT_TRUE(fs::is_directory(folder));
}

}  // namespace
