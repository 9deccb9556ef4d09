#include "nv/link_check.h"
#include "nv/security.h"
#include "wine.h"

#include <windows.h>

#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "nv/product_test_support.h"
#include "nv/unique_handle.h"

namespace {

namespace fs = std::filesystem;

constexpr DWORD kLink = FILE_ATTRIBUTE_REPARSE_POINT;
constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;
constexpr DWORD kFile = FILE_ATTRIBUTE_ARCHIVE;

// Answers the link queries from a table of made-up paths (the test system cannot make reparse
// points); a handle is answered with `handle_facts`. The system's queries come back afterwards.
class FakeFileSystem {
 public:
  explicit FakeFileSystem(std::map<std::wstring, nv::file_facts> paths,
                          nv::file_facts handle_facts = {})
      : paths_(std::move(paths)), handle_facts_(handle_facts) {
    previous_ = nv::set_link_queries(
        {[this](const std::wstring& path) {
           const auto found = paths_.find(path);
           return found == paths_.end() ? DWORD{INVALID_FILE_ATTRIBUTES} : found->second.attributes;
         },
         [this](HANDLE) { return handle_facts_; }});
  }
  ~FakeFileSystem() { nv::set_link_queries(previous_); }

 private:
  std::map<std::wstring, nv::file_facts> paths_;
  nv::file_facts handle_facts_;
  nv::link_queries previous_;
};

TEST(LinkCheck, TheFirstLinkBelowTheRootIsFoundAtEveryLevel) {
  const std::wstring root = L"C:\\ProgramData";
  const std::wstring maker = root + L"\\Nuvelle", materials = maker + L"\\Materials",
                     file = materials + L"\\metal.mat";
  struct {
    const wchar_t* what;
    DWORD rootAttributes, makerAttributes, materialsAttributes, fileAttributes;
    std::wstring path, expected;
  } const cases[] = {
      {L"no link", kFolder, kFolder, kFolder, kFile, file, L""},
      {L"maker's folder", kFolder, kFolder | kLink, kFolder, kFile, file, maker},
      {L"subfolder", kFolder, kFolder, kFolder | kLink, kFile, file, materials},
      {L"the file itself", kFolder, kFolder, kFolder, kFile | kLink, file, file},
      {L"nearest link first", kFolder, kFolder | kLink, kFolder | kLink, kFile, file, maker},
      {L"the root is the system's", kFolder | kLink, kFolder, kFolder, kFile, file, L""},
      {L"root in another case", kFolder, kFolder | kLink, kFolder, kFile,
       L"c:\\programdata\\Nuvelle\\Materials", L"c:\\programdata\\Nuvelle"},
      {L"not below the root", kFolder, kFolder | kLink, kFolder, kFile,
       L"C:\\ProgramDataX\\Nuvelle", L""},
      {L"nothing exists yet below", kFolder, INVALID_FILE_ATTRIBUTES, kFolder | kLink, kFile,
       file, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFileSystem fake({{root, {c.rootAttributes, 1}},
                         {maker, {c.makerAttributes, 1}},
                         {L"c:\\programdata\\Nuvelle", {c.makerAttributes, 1}},
                         {materials, {c.materialsAttributes, 1}},
                         {file, {c.fileAttributes, 1}}});
    EXPECT_EQ(nv::first_link_below(root, c.path), c.expected);
  }
  EXPECT_TRUE(nv::is_below(L"C:\\ProgramData\\", L"C:\\ProgramData\\x"));
  EXPECT_FALSE(nv::is_below(L"C:\\ProgramData", L"C:\\ProgramData"));
}

// A grant reads and writes the access list through one handle of the object itself: a link there
// and a file with a second name are refused, an ordinary folder or file is granted.
TEST(GrantUsersAccess, RefusesLinksAndFilesWithASecondName) {
  const nv_test::temp_folder scratch;
  const fs::path& folder = scratch.path();
  const fs::path file = folder / L"shared.dat";
  nv::unique_handle(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                  nullptr));
  constexpr DWORD kModify = 0x13019F;

  struct {
    const wchar_t* what;
    fs::path target;
    nv::file_facts facts;
    bool granted;
  } const cases[] = {
      {L"folder", folder, {kFolder, 1}, true},
      {L"file", file, {kFile, 1}, true},
      {L"junction", folder, {kFolder | kLink, 1}, false},
      {L"symbolic link to a file", file, {kFile | kLink, 1}, false},
      {L"second hard link", file, {kFile, 2}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFileSystem fake({}, c.facts);
    EXPECT_EQ(nv::grant_users_access(c.target.native(), kModify, 0), c.granted);
  }

  // A real second name, where the system can make one.
  const fs::path other = folder / L"elsewhere.dat";
  if (!::CreateHardLinkW(other.c_str(), file.c_str(), nullptr))
    GTEST_SKIP() << "no hard link could be made here";
  EXPECT_EQ(nv::facts_of(file.native()).links, 2u);
  EXPECT_FALSE(nv::grant_users_access(file.native(), kModify, 0));
  EXPECT_FALSE(nv::is_plain_file(nv::facts_of(file.native())));
  ASSERT_TRUE(::DeleteFileW(other.c_str()));
  EXPECT_TRUE(nv::is_plain_file(nv::facts_of(file.native())));
  EXPECT_TRUE(nv::grant_users_access(file.native(), kModify, 0));
}

}  // namespace
