#include "machine/same_path.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

class SamePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
    root_ = fs::path(temp) / (L"nv-samepath-" + std::to_wstring(::GetCurrentProcessId()));
    fs::create_directories(root_ / L"Long Folder Name");
    std::ofstream(file_ = root_ / L"Long Folder Name" / L"Material Library.dat") << "x";
    std::ofstream(other_ = root_ / L"other.dat") << "x";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  fs::path root_, file_, other_;
};

TEST_F(SamePathTest, ExistingFilesCompareByIdentity) {
  const fs::path link = root_ / L"link.dat";
  ASSERT_TRUE(::CreateHardLinkW(link.c_str(), file_.c_str(), nullptr));
  EXPECT_TRUE(engine::SamePath(file_, link));

  wchar_t short_name[MAX_PATH] = {};
  ASSERT_GT(::GetShortPathNameW(file_.c_str(), short_name, MAX_PATH), 0u);
  ASSERT_NE(fs::path(short_name), file_);
  EXPECT_TRUE(engine::SamePath(short_name, file_));
  EXPECT_TRUE(engine::SamePath(fs::path(short_name).parent_path(), file_.parent_path()));
  EXPECT_TRUE(engine::SamePath(root_.native() + L"\\", root_));

  EXPECT_FALSE(engine::SamePath(file_, other_));
  EXPECT_FALSE(engine::SamePath(root_, file_));
}

TEST_F(SamePathTest, OtherwiseTextOrAbsoluteFormsIgnoringCase) {
  EXPECT_TRUE(engine::SamePath(L"C:\\nv-none\\a\\b", L"C:/nv-none//a\\/b"));
  const fs::path missing = root_ / L"Missing" / L"Texture.png";
  std::wstring upper = missing.native();
  for (wchar_t& c : upper) c = static_cast<wchar_t>(::towupper(c));
  EXPECT_TRUE(engine::SamePath(missing, upper));
  EXPECT_TRUE(engine::SamePath(missing, root_ / L"Missing" / L"Sub" / L".." / L"texture.PNG"));
  wchar_t current[MAX_PATH] = {};
  ASSERT_NE(::GetCurrentDirectoryW(MAX_PATH, current), 0u);
  EXPECT_TRUE(engine::SamePath(L"nv-missing\\Texture.png", fs::path(current) / L"NV-MISSING" / L"texture.png"));

  EXPECT_FALSE(engine::SamePath(L"C:\\nv-none\\a\\b", L"C:\\nv-none\\ab"));
  EXPECT_FALSE(engine::SamePath(missing, root_ / L"Missing"));
  EXPECT_FALSE(engine::SamePath(file_, root_ / L"Long Folder Name" / L"Material Library.bak"));
}

}  // namespace
