#include "transaction/registry_key_backup.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "nv/product_test_support.h"

namespace {

namespace fs = std::filesystem;
using nv_test::scratch_machine_key;

constexpr wchar_t kParent[] = L"Software\\NvKeyBackupTest";
constexpr wchar_t kName[] = L"Tessaline 7";

// Every key below and including a key (by its path below it), each with its values' types and
// bytes: what must come back exactly.
using Tree = std::map<std::wstring, std::map<std::wstring, std::pair<DWORD, std::vector<BYTE>>>>;

void read_tree(HKEY key, const std::wstring& path, Tree& tree) {
  auto& values = tree[path];
  for (DWORD i = 0;; ++i) {
    wchar_t name[16384];
    DWORD length = 16384, type = 0, size = 0;
    if (::RegEnumValueW(key, i, name, &length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      break;
    std::vector<BYTE> data(size);
    length = 16384;
    ::RegEnumValueW(key, i, name, &length, nullptr, &type, data.data(), &size);
    values[std::wstring(name, length)] = {type, data};
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (::RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    HKEY raw = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(key, name, 0, KEY_READ, &raw), ERROR_SUCCESS);
    const nv::reg_key sub(raw);
    read_tree(sub.get(), path + L"\\" + name, tree);
  }
}

class KeyBackup : public ::testing::Test {
 protected:
  void SetUp() override { parent_ = scratch_machine_key::create(HKEY_LOCAL_MACHINE, kParent); }

  nv::reg_key open() const {
    HKEY raw = nullptr;
    ::RegOpenKeyExW(parent_.get(), kName, 0, KEY_ALL_ACCESS, &raw);
    return nv::reg_key(raw);
  }
  // The key as it is now; empty when it does not exist.
  Tree tree() const {
    Tree result;
    if (const nv::reg_key key = open()) read_tree(key.get(), {}, result);
    return result;
  }
  std::error_code restore() const { return engine::RestoreKeyState(parent_.get(), kName, file_); }

  // A key with a value of every kind, the strings without their terminator and the default
  // value included, and keys below it.
  void fill() const {
    const nv::reg_key key = scratch_machine_key::create(parent_.get(), kName);
    nv_test::set_string_value(key.get(), L"", L"default");
    nv_test::set_string_value(key.get(), L"DisplayName", L"Tessaline 7.08u");
    nv_test::set_string_value(key.get(), L"Unterminated", L"no end", false);
    nv_test::set_string_value(key.get(), L"Expand", L"%SystemRoot%\\x", true, REG_EXPAND_SZ);
    nv_test::set_raw_value(key.get(), L"Multi", REG_MULTI_SZ, L"a\0bc\0", 12);
    const BYTE odd[] = {0, 1, 0xFF};
    nv_test::set_raw_value(key.get(), L"Odd binary", REG_BINARY, odd, sizeof odd);
    nv_test::set_raw_value(key.get(), L"Empty", REG_BINARY, nullptr, 0);
    nv_test::set_raw_value(key.get(), L"None", REG_NONE, nullptr, 0);
    const DWORD dword = 0x01020304;
    nv_test::set_raw_value(key.get(), L"NvLanguage", REG_DWORD, &dword, sizeof dword);
    const ULONGLONG qword = 0x0102030405060708ull;
    nv_test::set_raw_value(key.get(), L"Big", REG_QWORD, &qword, sizeof qword);
    const nv::reg_key deeper = scratch_machine_key::create(key.get(), L"Nested\\Deeper");
    nv_test::set_string_value(deeper.get(), L"Inner", L"inner");
    scratch_machine_key::create(key.get(), L"Empty key");
  }

  // What a run writes over it: values changed, removed and added, a key below added.
  void overwrite() const {
    const nv::reg_key key = scratch_machine_key::create(parent_.get(), kName);
    nv_test::set_string_value(key.get(), L"DisplayName", L"Tessaline 7.08v");
    ::RegDeleteValueW(key.get(), L"Unterminated");
    const DWORD dword = 7;
    nv_test::set_raw_value(key.get(), L"NoModify", REG_DWORD, &dword, sizeof dword);
    scratch_machine_key::create(key.get(), L"Added");
  }

  scratch_machine_key machine_;
  nv_test::temp_folder folder_;
  std::wstring file_ = (folder_.path() / L"run-3.key").wstring();
  nv::reg_key parent_;
};

TEST_F(KeyBackup, AKeyComesBackWithExactlyItsValuesAndKeys) {
  fill();
  const Tree before = tree();
  ASSERT_EQ(before.size(), 4u);  // the key, Nested, Nested\Deeper, Empty key
  ASSERT_FALSE(engine::SaveKeyState(open().get(), file_));
  overwrite();
  ASSERT_NE(tree(), before);
  EXPECT_FALSE(restore());
  EXPECT_EQ(tree(), before);
  // Again, as after an interrupted undo: the same result.
  overwrite();
  EXPECT_FALSE(restore());
  EXPECT_EQ(tree(), before);
}

TEST_F(KeyBackup, AKeyThatDidNotExistIsDeletedAndAMissingOneComesBack) {
  ASSERT_FALSE(engine::SaveKeyState(nullptr, file_));
  overwrite();
  EXPECT_FALSE(restore());
  EXPECT_FALSE(open());

  fill();
  const Tree before = tree();
  const std::wstring saved = file_;
  file_ = (folder_.path() / L"run-4.key").wstring();
  ASSERT_FALSE(engine::SaveKeyState(open().get(), file_));
  ASSERT_EQ(::SHDeleteKeyW(parent_.get(), kName), ERROR_SUCCESS);
  EXPECT_FALSE(restore());
  EXPECT_EQ(tree(), before);
  // The writer never replaces a file.
  EXPECT_EQ(engine::SaveKeyState(open().get(), saved).value(), ERROR_FILE_EXISTS);
}

std::string read_bytes(const std::wstring& file) {
  std::ifstream in(fs::path(file), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const std::wstring& file, const std::string& bytes) {
  std::ofstream(fs::path(file), std::ios::binary | std::ios::trunc) << bytes;
}

TEST_F(KeyBackup, ADamagedOrMissingFileChangesNothingAndFails) {
  fill();
  ASSERT_FALSE(engine::SaveKeyState(open().get(), file_));
  const std::string good = read_bytes(file_);
  overwrite();
  const Tree overwritten = tree();

  struct Damage {
    const char* what;
    std::function<std::string(std::string)> apply;
  };
  const auto flip = [](std::size_t at) {
    return [at](std::string bytes) {
      bytes.at(at) ^= 0x10;
      return bytes;
    };
  };
  const Damage damages[] = {
      {"the magic", flip(0)},
      {"whether the key existed", flip(4)},
      {"a byte in the middle", [](std::string b) { b[b.size() / 2] ^= 0x01; return b; }},
      {"the check", [](std::string b) { b.back() ^= 0x01; return b; }},
      {"cut short", [](std::string b) { return b.substr(0, b.size() - 5); }},
      {"a byte more", [](std::string b) { return b + 'x'; }},
      {"empty", [](std::string) { return std::string(); }},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    write_bytes(file_, damage.apply(good));
    EXPECT_EQ(restore().value(), ERROR_INVALID_DATA);
    EXPECT_EQ(tree(), overwritten);
  }
  fs::remove(fs::path(file_));
  EXPECT_EQ(restore().value(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(tree(), overwritten);
}

}  // namespace
