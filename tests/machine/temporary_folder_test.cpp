#include "machine/temporary_folder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <boost/uuid/entropy_error.hpp>
#include <boost/uuid/uuid.hpp>
#include <gtest/gtest.h>

#include "nv/unique_handle.h"
#include "machine/private_folders_support.h"

namespace {

using engine::CTemporaryFolder;
using engine::MakeTemporaryFolderName;
using file_test::write_text;
namespace fs = std::filesystem;

const std::wstring kPrefix = L"nuvelle_{";

boost::uuids::uuid FailingRandomSource() {
  throw boost::uuids::entropy_error(static_cast<std::int32_t>(0xC0000001), "BCryptGenRandom");
}

class TemporaryFolder : public ::testing::Test {
 protected:
  file_test::private_folders folders_;
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
    file_test::temp_path_override tmp(too_long);
    EXPECT_FALSE(MakeTemporaryFolderName(folder, error));
  }
  ASSERT_TRUE(std::regex_match(error, match, format)) << error;
  EXPECT_EQ(match[1].str(), L"GetTempPath");

  // A usable temporary folder whose composed path would pass 259 characters: refused, not cut.
  const std::wstring deep = base_ + std::wstring(240 - base_.size(), L'b') + L"\\";
  fs::create_directories(deep);
  error.clear();
  {
    file_test::temp_path_override tmp(deep);
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
  file_test::temp_path_override tmp(fits);
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
  nv::unique_handle ready(::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  ASSERT_TRUE(ready);
  std::wstring command = L"\"" + helper.wstring() + L"\" \"" + held.wstring() + L"\" " + event_name;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(::CreateProcessW(helper.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi));
  nv::unique_handle thread(pi.hThread);
  nv::unique_handle process(pi.hProcess);
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

namespace {

// Whether `path` can be opened with `access` while the working folder holds it.
DWORD openError(const fs::path& path, DWORD access) {
  nv::unique_handle file(::CreateFileW(path.c_str(), access,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
  return file ? ERROR_SUCCESS : ::GetLastError();
}

TEST_F(TemporaryFolder, CreatedProtectedRefusedWhenPresentAndHeldFilesCannotChange) {
  const fs::path folder = folders_.root() / L"work";
  fs::create_directories(folder);
  {
    CTemporaryFolder planted(folder.wstring());
    EXPECT_EQ(planted.Create(), std::error_code(ERROR_ALREADY_EXISTS, std::system_category()))
        << "a folder made by someone else is not used";
  }
  ASSERT_TRUE(fs::is_directory(folder)) << "someone else's folder is left alone";
  fs::remove(folder);

  CTemporaryFolder temporary(folder.wstring());
  ASSERT_FALSE(temporary.Create());
  const fs::path library = folder / L"DSetup.dll";
  temporary.AddFile(library.wstring());
  write_text(library, "proven");
  EXPECT_EQ(temporary.HoldFile((folder / L"missing.cab").wstring()),
            std::error_code(ERROR_FILE_NOT_FOUND, std::system_category()));
  ASSERT_FALSE(temporary.HoldFile(library.wstring()));
  // Read by anyone, changed, renamed or deleted by nobody while the run goes on.
  EXPECT_EQ(openError(library, GENERIC_READ), ERROR_SUCCESS);
  EXPECT_EQ(openError(library, GENERIC_WRITE), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(openError(library, DELETE), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(::MoveFileW(library.c_str(), (folders_.root() / L"moved.dll").c_str()));
  EXPECT_EQ(file_test::read_text(library), "proven");
}

TEST_F(TemporaryFolder, AccessListAdmitsOnlyAdministratorsAndSystem) {
  const fs::path folder = folders_.root() / L"protected";
  CTemporaryFolder temporary(folder.wstring());
  ASSERT_FALSE(temporary.Create());
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR raw = nullptr;
  ASSERT_EQ(::GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &dacl, nullptr, &raw),
            ERROR_SUCCESS);
  std::unique_ptr<void, decltype(&::LocalFree)> descriptor(raw, &::LocalFree);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(raw, &control, &revision);
  if (!(control & SE_DACL_PROTECTED) && nv_test::running_under_wine())
    GTEST_SKIP() << "Wine does not keep the access list a folder is created with";
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing inherited from the user's folder";
  ASSERT_NE(dacl, nullptr);
  std::vector<std::wstring> trustees;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    wchar_t* text = nullptr;
    ASSERT_TRUE(::ConvertSidToStringSidW(&ace->SidStart, &text));
    trustees.emplace_back(text);
    ::LocalFree(text);
  }
  EXPECT_EQ(trustees, (std::vector<std::wstring>{L"S-1-5-32-544", L"S-1-5-18"}));
}

TEST_F(TemporaryFolder, ALinkInTheFolderGoesAsALink) {
  const fs::path folder = folders_.root() / L"links";
  const fs::path outside = folders_.root() / L"outside.dll";
  write_text(outside, "not ours");
  ASSERT_TRUE(::SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_READONLY));
  {
    CTemporaryFolder temporary(folder.wstring());
    ASSERT_FALSE(temporary.Create());
    const fs::path link = folder / L"DSetup.dll";
    temporary.AddFile(link.wstring());
    ::CreateSymbolicLinkW(link.c_str(), outside.c_str(), 0);
    const DWORD attributes = ::GetFileAttributesW(link.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      GTEST_SKIP() << "no symbolic link could be made (Wine has no reparse points)";
    EXPECT_EQ(temporary.HoldFile(link.wstring()),
              std::error_code(ERROR_CANT_ACCESS_FILE, std::system_category()));
  }
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_EQ(file_test::read_text(outside), "not ours");
  EXPECT_TRUE(file_test::read_only(outside)) << "the link's target keeps its attributes";
}

}  // namespace
