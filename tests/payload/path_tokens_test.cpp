#include "payload/path_tokens.h"

#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "machine/machine_folders.h"
#include "nv/link_test_support.h"

#include "payload/compress_error.h"
#include "machine/same_path.h"

namespace {

namespace fs = std::filesystem;

// The folder of `csidl` as the system reports it, looked up independently of the code under test.
fs::path shell_folder(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
  return buffer;
}

::testing::AssertionResult SameIgnoringCase(const fs::path& actual, const fs::path& expected) {
  const std::wstring &a = actual.native(), &e = expected.native();
  if (!e.empty() && ::CompareStringOrdinal(a.c_str(), int(a.size()), e.c_str(), int(e.size()), TRUE) ==
                        CSTR_EQUAL)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actual.string() << " is not " << expected.string();
}

struct Grant {
  std::wstring folder;
  unsigned long mask;
  unsigned char flags;
};

// A private folder under the temporary folder standing in for the all-users application data,
// every grant recorded; removed with the test.
class PathTokens : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
    root_ = fs::path(temp) / (L"nv-tokens-" + std::to_wstring(::GetCurrentProcessId()));
    fs::create_directories(root_);
    roots_ = {(root_ / L"Install").native(), L"Tessaline Examples", (root_ / L"Work").native()};
    engine::path_token_hooks::set_grant([this](const std::wstring& f, unsigned long m, unsigned char g) {
      grants_.push_back({f, m, g});
      return grant_result_;
    });
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
  // Makes `hidden` yield nothing and, when `common_data` is given, maps the all-users data there.
  void redirect(int hidden, fs::path common_data = {}) {
    engine::path_token_hooks::set_folder_lookup([=](int csidl) {
      if (csidl == hidden) return std::wstring();
      if (csidl == CSIDL_COMMON_APPDATA && !common_data.empty()) return common_data.native();
      return engine::system_folder(csidl);
    });
  }

  fs::path root_;
  engine::DestinationRoots roots_;
  engine::SharedFolders shared_;
  std::vector<Grant> grants_;
  bool grant_result_ = true;
};

TEST_F(PathTokens, EveryTokenResolvesToItsFolder) {
  const std::pair<const wchar_t*, int> system_tokens[] = {
      {L"<ProgramFiles>", CSIDL_PROGRAM_FILES},        {L"<ProgramCommon>", CSIDL_PROGRAM_FILES_COMMON},
      {L"<CommonData>", CSIDL_COMMON_APPDATA},         {L"<UserData>", CSIDL_APPDATA},
      {L"<CommonDocuments>", CSIDL_COMMON_DOCUMENTS},  {L"<Documents>", CSIDL_PERSONAL},
      {L"<CommonDesktop>", CSIDL_COMMON_DESKTOPDIRECTORY}, {L"<Desktop>", CSIDL_DESKTOPDIRECTORY},
      {L"<WinDir>", CSIDL_WINDOWS},                    {L"<System>", CSIDL_SYSTEM},
  };
  for (const auto& [token, csidl] : system_tokens) {
    EXPECT_TRUE(SameIgnoringCase(resolve(std::wstring(token) + L"\\Nuvelle\\Sub"),
                                 shell_folder(csidl) / L"Nuvelle" / L"Sub"));
    EXPECT_TRUE(SameIgnoringCase(resolve(token), shell_folder(csidl)));
  }
  EXPECT_EQ(resolve(L"<InstallPath>\\Lang"), fs::path(roots_.installFolder) / L"Lang");
  EXPECT_EQ(resolve(L"<Temporary>\\DirectX"), fs::path(roots_.temporaryFolder) / L"DirectX");
  EXPECT_TRUE(SameIgnoringCase(resolve(L"<SamplePath>\\Project"), shell_folder(CSIDL_COMMON_DESKTOPDIRECTORY) /
                                                                      L"Tessaline Examples" / L"Project"));
  roots_.temporaryFolder.clear();
  EXPECT_EQ(resolve(L"<Temporary>\\DirectX"), fs::path(roots_.installFolder) / L"DirectX");
}

TEST_F(PathTokens, DestinationsWithoutAKnownTokenKeepTheirComponents) {
  // Tokens are case-sensitive: another case is an unknown token, whose base is empty.
  EXPECT_EQ(resolve(L"<installpath>\\Lang"), fs::path(L"Lang"));
  EXPECT_EQ(resolve(L"<COMMONDATA>\\Nuvelle\\Materials"), fs::path(L"Nuvelle\\Materials"));
  EXPECT_EQ(resolve(L"<Nowhere>"), fs::path());
  // Without a token the destination is used as written.
  EXPECT_EQ(resolve(root_ / L"Fixed"), root_ / L"Fixed");
  EXPECT_EQ(resolve(L"<Half\\x"), fs::path(L"<Half\\x"));
  EXPECT_TRUE(shared_.entries().empty());
}

TEST_F(PathTokens, SamplesFolderEmptyAbsoluteOrRelative) {
  const fs::path desktop = shell_folder(CSIDL_COMMON_DESKTOPDIRECTORY);
  roots_.samplesFolder.clear();
  EXPECT_TRUE(SameIgnoringCase(resolve(L"<SamplePath>\\Project"), desktop / L"Project"));
  for (const fs::path& absolute : {root_ / L"Samples", fs::path(L"\\\\server\\share\\Samples")}) {
    roots_.samplesFolder = absolute.native();
    EXPECT_EQ(resolve(L"<SamplePath>\\Project"), absolute / L"Project");
  }
  EXPECT_TRUE(shared_.entries().empty());

  // Relative: joined to the public desktop, and only that folder is shared.
  roots_.samplesFolder = L"Tessaline Examples";
  resolve(L"<SamplePath>\\Project\\Textures");
  ASSERT_EQ(shared_.entries().size(), 1u);
  EXPECT_TRUE(SameIgnoringCase(shared_.entries()[0].folder, desktop / L"Tessaline Examples"));
}

TEST_F(PathTokens, SharedRootsRegisterEveryFolderBelowThemOnce) {
  const fs::path common = shell_folder(CSIDL_COMMON_APPDATA);
  for (const wchar_t* d : {L"<CommonData>\\Nuvelle\\Materials", L"<CommonData>\\Nuvelle/Materials\\",
                           L"<CommonData>\\NUVELLE\\materials", L"<UserData>\\Nuvelle\\Settings",
                           L"<ProgramFiles>\\Nuvelle"})
    resolve(d);
  ASSERT_EQ(shared_.entries().size(), 2u);
  EXPECT_TRUE(SameIgnoringCase(shared_.entries()[0].folder, common / L"Nuvelle"));
  EXPECT_TRUE(SameIgnoringCase(shared_.entries()[1].folder, common / L"Nuvelle" / L"Materials"));
  resolve(L"<CommonDocuments>\\Nuvelle");
  resolve(L"<CommonDesktop>\\Nuvelle");
  EXPECT_EQ(shared_.entries().size(), 4u);
}

TEST_F(PathTokens, MissingSystemFolders) {
  // <CommonData> falls back to the user's application data and stays shared.
  redirect(CSIDL_COMMON_APPDATA);
  EXPECT_TRUE(SameIgnoringCase(resolve(L"<CommonData>\\Nuvelle"), shell_folder(CSIDL_APPDATA) / L"Nuvelle"));
  ASSERT_EQ(shared_.entries().size(), 1u);
  EXPECT_TRUE(SameIgnoringCase(shared_.entries()[0].folder, shell_folder(CSIDL_APPDATA) / L"Nuvelle"));

  // A folder without fallback fails with the installer's "unexpected".
  redirect(CSIDL_PROGRAM_FILES);
  try {
    resolve(L"<ProgramFiles>\\Nuvelle");
    ADD_FAILURE() << "no exception";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code(), engine::compress_errc::unexpected);
  }
  EXPECT_THROW(engine::known_folder(CSIDL_PROGRAM_FILES, CSIDL_WINDOWS, false), std::system_error);
  EXPECT_TRUE(SameIgnoringCase(engine::known_folder(CSIDL_PROGRAM_FILES, CSIDL_WINDOWS, true),
                               shell_folder(CSIDL_WINDOWS)));
}

TEST_F(PathTokens, EachSharedFolderIsGrantedOnceWhenAFileBelowItIsWritten) {
  const fs::path common = root_ / L"AllUsers";
  fs::create_directories(common / L"Other");
  redirect(-1, common);
  const fs::path materials = resolve(L"<CommonData>\\Nuvelle\\Materials");
  const fs::path metals = resolve(L"<CommonData>\\Nuvelle\\Materials\\Metals");
  ASSERT_EQ(shared_.entries().size(), 3u);

  // Nothing before the folders exist, nothing for an unrelated folder.
  shared_.grant_shared_folders(metals);
  shared_.grant_shared_folders(common / L"Other");
  EXPECT_TRUE(grants_.empty());

  fs::create_directories(materials);
  for (int file = 0; file < 5; ++file) shared_.grant_shared_folders(materials);
  ASSERT_EQ(grants_.size(), 2u);
  EXPECT_TRUE(engine::SamePath(grants_[0].folder, common / L"Nuvelle"));
  EXPECT_TRUE(engine::SamePath(grants_[1].folder, materials));
  EXPECT_FALSE(shared_.entries()[2].granted);

  // A file deeper down reaches the remaining folder through its ancestors.
  fs::create_directories(metals / L"Copper" / L"Aged");
  for (int file = 0; file < 3; ++file) shared_.grant_shared_folders(metals / L"Copper" / L"Aged");
  ASSERT_EQ(grants_.size(), 3u);
  EXPECT_TRUE(engine::SamePath(grants_[2].folder, metals));
  for (const Grant& g : grants_) EXPECT_TRUE(g.mask == 0x001F01FF && g.flags == 3) << g.mask;
}

TEST_F(PathTokens, AFolderReachedThroughALinkIsNeitherGrantedNorTriedAgain) {
  const fs::path common = root_ / L"AllUsers";
  redirect(-1, common);
  const fs::path materials = resolve(L"<CommonData>\\Nuvelle\\Materials");
  fs::create_directories(materials);
  // A user made the maker's folder a junction; everything below it is reached through it.
  const nv_test::planted_links links({(common / L"Nuvelle").native()});
  for (int file = 0; file < 2; ++file) shared_.grant_shared_folders(materials);
  EXPECT_TRUE(grants_.empty());
  for (const auto& entry : shared_.entries()) EXPECT_TRUE(entry.granted) << "not tried again";
}

TEST_F(PathTokens, AFailedGrantIsNotRetried) {
  grant_result_ = false;
  redirect(-1, root_);
  const fs::path folder = resolve(L"<CommonData>\\Nuvelle");
  fs::create_directories(folder);
  shared_.grant_shared_folders(folder);
  shared_.grant_shared_folders(folder);
  EXPECT_EQ(grants_.size(), 1u);
}

}  // namespace
