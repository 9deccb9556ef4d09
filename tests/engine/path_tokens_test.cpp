#include "engine/path_tokens.h"

#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "engine/compress_error.h"
#include "engine/same_path.h"

namespace {

namespace fs = std::filesystem;

// The folder of `csidl` as the system reports it, looked up independently of the code under
// test.
std::wstring shell_folder(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
  return buffer;
}

::testing::AssertionResult SameTextIgnoringCase(const fs::path& actual, const fs::path& expected) {
  const std::wstring& a = actual.native();
  const std::wstring& e = expected.native();
  if (::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), e.c_str(),
                             static_cast<int>(e.size()), TRUE) == CSTR_EQUAL)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "\"" << actual.string() << "\" is not \"" << expected.string() << "\"";
}

std::vector<fs::path> shared_folders(const engine::SharedFolders& shared) {
  std::vector<fs::path> folders;
  for (const auto& entry : shared.entries()) folders.push_back(entry.folder);
  return folders;
}

// A private folder under the temporary folder, removed with the test; restores the hooks.
class PathTokens : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
    root_ = fs::path(temp) / (L"nv-tokens-" + std::to_wstring(::GetCurrentProcessId()));
    fs::create_directories(root_);
    roots_.installFolder = (root_ / L"Install").native();
    roots_.temporaryFolder = (root_ / L"Work").native();
    roots_.samplesFolder = L"Tessaline Examples";
  }
  void TearDown() override {
    engine::path_token_hooks::set_folder_lookup(nullptr);
    engine::path_token_hooks::set_grant(nullptr);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  fs::path resolve(const fs::path& destination) {
    return engine::resolve_destination(destination, roots_, shared_);
  }
  // Makes the system-folder lookup of `hidden` yield nothing.
  void hide_folder(int hidden) {
    engine::path_token_hooks::set_folder_lookup(
        [hidden](int csidl) { return csidl == hidden ? std::wstring() : engine::system_folder(csidl); });
  }

  fs::path root_;
  engine::DestinationRoots roots_;
  engine::SharedFolders shared_;
};

TEST_F(PathTokens, EveryTokenResolvesToItsFolder) {
  const std::pair<const wchar_t*, int> system_tokens[] = {
      {L"<ProgramFiles>", CSIDL_PROGRAM_FILES},
      {L"<ProgramCommon>", CSIDL_PROGRAM_FILES_COMMON},
      {L"<CommonData>", CSIDL_COMMON_APPDATA},
      {L"<UserData>", CSIDL_APPDATA},
      {L"<CommonDocuments>", CSIDL_COMMON_DOCUMENTS},
      {L"<Documents>", CSIDL_PERSONAL},
      {L"<CommonDesktop>", CSIDL_COMMON_DESKTOPDIRECTORY},
      {L"<Desktop>", CSIDL_DESKTOPDIRECTORY},
      {L"<WinDir>", CSIDL_WINDOWS},
      {L"<System>", CSIDL_SYSTEM},
  };
  for (const auto& [token, csidl] : system_tokens) {
    const std::wstring folder = shell_folder(csidl);
    ASSERT_FALSE(folder.empty()) << csidl;
    EXPECT_TRUE(SameTextIgnoringCase(resolve(std::wstring(token) + L"\\Nuvelle\\Sub"),
                                     fs::path(folder) / L"Nuvelle" / L"Sub"));
    EXPECT_TRUE(SameTextIgnoringCase(resolve(token), folder));
  }
  EXPECT_EQ(resolve(L"<InstallPath>\\Lang"), fs::path(roots_.installFolder) / L"Lang");
  EXPECT_EQ(resolve(L"<Temporary>\\DirectX"), fs::path(roots_.temporaryFolder) / L"DirectX");
  EXPECT_TRUE(SameTextIgnoringCase(
      resolve(L"<SamplePath>\\Project"),
      fs::path(shell_folder(CSIDL_COMMON_DESKTOPDIRECTORY)) / L"Tessaline Examples" / L"Project"));
}

TEST_F(PathTokens, DestinationsWithoutAKnownTokenKeepTheirComponents) {
  // Tokens are case-sensitive: another case is an unknown token, whose base is empty.
  EXPECT_EQ(resolve(L"<installpath>\\Lang"), fs::path(L"Lang"));
  EXPECT_EQ(resolve(L"<COMMONDATA>\\Nuvelle\\Materials"), fs::path(L"Nuvelle\\Materials"));
  EXPECT_EQ(resolve(L"<Nowhere>\\a\\b"), fs::path(L"a\\b"));
  EXPECT_EQ(resolve(L"<Nowhere>"), fs::path());
  // No token: used as written.
  const fs::path absolute = root_ / L"Fixed" / L"Folder";
  EXPECT_EQ(resolve(absolute), absolute);
  EXPECT_EQ(resolve(L"Relative\\Folder"), fs::path(L"Relative\\Folder"));
  EXPECT_EQ(resolve(L"<Half\\x"), fs::path(L"<Half\\x"));
  EXPECT_EQ(resolve(fs::path()), fs::path());
  EXPECT_TRUE(shared_.entries().empty());
}

TEST_F(PathTokens, TemporaryWithoutWorkingFolderIsTheInstallFolder) {
  roots_.temporaryFolder.clear();
  EXPECT_EQ(resolve(L"<Temporary>\\DirectX"), fs::path(roots_.installFolder) / L"DirectX");
}

TEST_F(PathTokens, SamplesFolderEmptyAbsoluteOrRelative) {
  const fs::path desktop = shell_folder(CSIDL_COMMON_DESKTOPDIRECTORY);

  roots_.samplesFolder.clear();
  EXPECT_TRUE(SameTextIgnoringCase(resolve(L"<SamplePath>\\Project"), desktop / L"Project"));
  EXPECT_TRUE(shared_.entries().empty());

  for (const fs::path& absolute : {root_ / L"Samples", fs::path(L"\\\\server\\share\\Samples")}) {
    roots_.samplesFolder = absolute.native();
    EXPECT_EQ(resolve(L"<SamplePath>\\Project"), absolute / L"Project");
    EXPECT_TRUE(shared_.entries().empty()) << absolute.string();
  }

  // Relative: joined to the public desktop, and only that folder is shared.
  roots_.samplesFolder = L"Tessaline Examples";
  EXPECT_TRUE(SameTextIgnoringCase(resolve(L"<SamplePath>\\Project\\Textures"),
                                   desktop / L"Tessaline Examples" / L"Project" / L"Textures"));
  ASSERT_EQ(shared_.entries().size(), 1u);
  EXPECT_TRUE(SameTextIgnoringCase(shared_.entries()[0].folder, desktop / L"Tessaline Examples"));
  EXPECT_FALSE(shared_.entries()[0].granted);
}

TEST_F(PathTokens, SharedRootsRegisterEveryFolderBelowThemOnce) {
  const fs::path common = shell_folder(CSIDL_COMMON_APPDATA);
  resolve(L"<CommonData>\\Nuvelle\\Materials");
  resolve(L"<CommonData>\\Nuvelle/Materials\\");
  resolve(L"<CommonData>\\NUVELLE\\materials");
  resolve(L"<UserData>\\Nuvelle\\Settings");
  resolve(L"<ProgramFiles>\\Nuvelle");
  const auto folders = shared_folders(shared_);
  ASSERT_EQ(folders.size(), 2u);
  EXPECT_TRUE(SameTextIgnoringCase(folders[0], common / L"Nuvelle"));
  EXPECT_TRUE(SameTextIgnoringCase(folders[1], common / L"Nuvelle" / L"Materials"));

  resolve(L"<CommonDocuments>\\Nuvelle");
  resolve(L"<CommonDesktop>\\Nuvelle");
  EXPECT_EQ(shared_.entries().size(), 4u);
}

TEST_F(PathTokens, CommonDataFallsBackToUserDataAndStaysShared) {
  hide_folder(CSIDL_COMMON_APPDATA);
  const fs::path user_data = shell_folder(CSIDL_APPDATA);
  EXPECT_TRUE(
      SameTextIgnoringCase(resolve(L"<CommonData>\\Nuvelle"), user_data / L"Nuvelle"));
  ASSERT_EQ(shared_.entries().size(), 1u);
  EXPECT_TRUE(SameTextIgnoringCase(shared_.entries()[0].folder, user_data / L"Nuvelle"));
}

TEST_F(PathTokens, MissingSystemFolderIsUnexpected) {
  hide_folder(CSIDL_PROGRAM_FILES);
  try {
    resolve(L"<ProgramFiles>\\Nuvelle");
    FAIL() << "no exception";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code(), engine::compress_errc::unexpected);
  }
  // The fallback is only consulted when asked for.
  EXPECT_THROW(engine::known_folder(CSIDL_PROGRAM_FILES, CSIDL_WINDOWS, false), std::system_error);
  EXPECT_TRUE(SameTextIgnoringCase(engine::known_folder(CSIDL_PROGRAM_FILES, CSIDL_WINDOWS, true),
                                   shell_folder(CSIDL_WINDOWS)));
  // Tokens that do not need the hidden folder still resolve.
  EXPECT_EQ(resolve(L"<InstallPath>\\x"), fs::path(roots_.installFolder) / L"x");
}

struct Grant {
  std::wstring folder;
  unsigned long mask;
  unsigned char flags;
};

// <CommonData> mapped to a private folder, with every grant recorded.
class SharedFolderGrants : public PathTokens {
 protected:
  void SetUp() override {
    PathTokens::SetUp();
    common_ = root_ / L"AllUsers";
    fs::create_directories(common_);
    const std::wstring common = common_.native();
    engine::path_token_hooks::set_folder_lookup([common](int csidl) {
      return csidl == CSIDL_COMMON_APPDATA ? common : engine::system_folder(csidl);
    });
    engine::path_token_hooks::set_grant(
        [this](const std::wstring& folder, unsigned long mask, unsigned char flags) {
          grants_.push_back({folder, mask, flags});
          return true;
        });
  }
  fs::path common_;
  std::vector<Grant> grants_;
};

TEST_F(SharedFolderGrants, EachSharedFolderIsGrantedOnceWhenAFileBelowItIsWritten) {
  const fs::path materials = resolve(L"<CommonData>\\Nuvelle\\Materials");
  const fs::path metals = resolve(L"<CommonData>\\Nuvelle\\Materials\\Metals");
  ASSERT_EQ(shared_.entries().size(), 3u);

  // Before the folders exist nothing is granted; they stay pending.
  shared_.grant_shared_folders(metals);
  EXPECT_TRUE(grants_.empty());

  // A file in an unrelated folder grants nothing.
  fs::create_directories(common_ / L"Other");
  shared_.grant_shared_folders(common_ / L"Other");
  EXPECT_TRUE(grants_.empty());

  fs::create_directories(materials);
  for (int file = 0; file < 5; ++file) shared_.grant_shared_folders(materials);
  ASSERT_EQ(grants_.size(), 2u);
  EXPECT_TRUE(engine::SamePath(grants_[0].folder, common_ / L"Nuvelle"));
  EXPECT_TRUE(engine::SamePath(grants_[1].folder, materials));
  for (const Grant& g : grants_) {
    EXPECT_EQ(g.mask, 0x001F01FFu);
    EXPECT_EQ(g.flags, 3u);
  }
  EXPECT_FALSE(shared_.entries()[2].granted);

  // A file deeper down reaches the remaining folder through its ancestors.
  fs::create_directories(metals / L"Copper" / L"Aged");
  for (int file = 0; file < 3; ++file) shared_.grant_shared_folders(metals / L"Copper" / L"Aged");
  ASSERT_EQ(grants_.size(), 3u);
  EXPECT_TRUE(engine::SamePath(grants_[2].folder, metals));
  for (const auto& entry : shared_.entries()) EXPECT_TRUE(entry.granted);
}

TEST_F(SharedFolderGrants, AGrantIsNotRetriedAfterItFailed) {
  engine::path_token_hooks::set_grant(
      [this](const std::wstring& folder, unsigned long mask, unsigned char flags) {
        grants_.push_back({folder, mask, flags});
        return false;
      });
  const fs::path folder = resolve(L"<CommonData>\\Nuvelle");
  fs::create_directories(folder);
  shared_.grant_shared_folders(folder);
  shared_.grant_shared_folders(folder);
  EXPECT_EQ(grants_.size(), 1u);
  EXPECT_TRUE(shared_.entries()[0].granted);
}

}  // namespace
