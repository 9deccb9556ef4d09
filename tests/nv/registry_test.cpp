#include "nv/registry.h"

#include <windows.h>

#include <fstream>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "nv/product.h"
#include "product_test_support.h"

namespace {

using nv_test::set_raw_value;
using nv_test::set_string_value;

class Registry : public ::testing::Test {
 protected:
  nv_test::scratch_machine_key scratch_;
  nv::reg_key key_ = scratch_.create(HKEY_LOCAL_MACHINE, L"Software\\Nuvelle");
};

TEST_F(Registry, OpenKeyGivesNullOnlyForAMissingKey) {
  EXPECT_TRUE(nv::reg_open_key(HKEY_LOCAL_MACHINE, L"Software\\Nuvelle"));
  EXPECT_FALSE(nv::reg_open_key(HKEY_LOCAL_MACHINE, L"Software\\Nuvelle\\Missing"));
  try {
    nv::reg_open_key(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x00DEAD00)), L"Sub");
    ADD_FAILURE() << "no system_error for an invalid parent key";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().category(), std::system_category());
    EXPECT_NE(error.code().value(), ERROR_FILE_NOT_FOUND);
  }
}

TEST_F(Registry, ReadStringAcceptsOnlyTerminatedEvenSizedStrings) {
  const std::wstring text = L"%ProgramFiles%\\Nuvelle";
  const DWORD size = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  const DWORD number = 7;
  set_string_value(key_.get(), L"Plain", text);
  set_string_value(key_.get(), L"Expandable", text, true, REG_EXPAND_SZ);
  set_raw_value(key_.get(), L"ZeroSize", REG_SZ, nullptr, 0);
  set_string_value(key_.get(), L"Unterminated", text, false);
  set_raw_value(key_.get(), L"Odd", REG_SZ, text.c_str(), size - 1);
  set_raw_value(key_.get(), L"Number", REG_DWORD, &number, sizeof number);
  set_raw_value(key_.get(), L"Binary", REG_BINARY, text.c_str(), size);
  set_raw_value(key_.get(), L"Multi", REG_MULTI_SZ, L"a\0b\0", 3 * sizeof(wchar_t));

  // Expandable text is returned as stored.
  for (const wchar_t* name : {L"Plain", L"Expandable"}) {
    std::wstring out;
    EXPECT_TRUE(nv::reg_read_string(key_.get(), name, out)) << name;
    EXPECT_EQ(out, text) << name;
  }
  std::wstring out = L"previous";
  EXPECT_TRUE(nv::reg_read_string(key_.get(), L"ZeroSize", out));
  EXPECT_EQ(out, L"");
  for (const wchar_t* name : {L"Unterminated", L"Odd", L"Number", L"Binary", L"Multi", L"Missing"}) {
    std::wstring out = L"unchanged";
    EXPECT_FALSE(nv::reg_read_string(key_.get(), name, out)) << name;
    EXPECT_EQ(out, L"unchanged") << name;
  }
}

TEST_F(Registry, ReadStringRaisesOtherErrors) {
  set_string_value(key_.get(), L"Plain", L"text");
  HKEY raw = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Nuvelle", 0, KEY_SET_VALUE, &raw),
            ERROR_SUCCESS);
  const nv::reg_key write_only(raw);
  if (nv_test::running_under_wine() &&
      ::RegQueryValueExW(raw, L"Plain", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
    GTEST_SKIP() << "this Wine does not check the access rights of registry handles";
  std::wstring out;
  try {
    nv::reg_read_string(write_only.get(), L"Plain", out);
    ADD_FAILURE() << "no system_error for a key opened without query access";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code(), std::error_code(ERROR_ACCESS_DENIED, std::system_category()));
  }
}

// The product path lookup; every test starts with an empty cache.
class ProductPath : public Registry {
 protected:
  void SetUp() override {
    nv::set_current_product(nv::tessaline_7);
    nv::details::reset_product_path_cache_for_tests();
    std::filesystem::create_directories(exe_.parent_path());
  }
  void TearDown() override { nv::details::reset_product_path_cache_for_tests(); }
  void record(const std::wstring& path) { set_string_value(key_.get(), L"Tessaline 7 Path", path); }

  nv_test::temp_folder folder_;
  std::filesystem::path exe_ = folder_.path() / L"Tessaline 7" / L"Tessaline.exe";
};

TEST_F(ProductPath, FirstAnswerIsKeptForTheProcess) {
  std::ofstream(exe_) << "exe";
  record(exe_.wstring());
  EXPECT_EQ(nv::product_path(), exe_.wstring());
  record(exe_.parent_path().wstring());
  std::filesystem::remove(exe_);
  EXPECT_EQ(nv::product_path(), exe_.wstring());
  // A new lookup sees the new value; a folder counts as an existing entry.
  nv::details::reset_product_path_cache_for_tests();
  EXPECT_EQ(nv::product_path(), exe_.parent_path().wstring());
}

TEST_F(ProductPath, MissingAtFirstCallStaysEmptyWhenCreatedLater) {
  record(exe_.wstring());
  EXPECT_EQ(nv::product_path(), L"");
  std::ofstream(exe_) << "exe";
  EXPECT_EQ(nv::product_path(), L"");
  nv::details::reset_product_path_cache_for_tests();
  EXPECT_EQ(nv::product_path(), exe_.wstring());
}

TEST_F(ProductPath, EmptyWithoutAUsableValue) {
  std::ofstream(exe_) << "exe";
  const std::wstring text = exe_.wstring();
  const auto lookup = [] {
    nv::details::reset_product_path_cache_for_tests();
    return nv::product_path();
  };
  set_string_value(key_.get(), L"Tessaline 6 Path", text);
  EXPECT_EQ(lookup(), L"") << "only another product's value";
  set_string_value(key_.get(), L"Tessaline 7 Path", text, false);
  EXPECT_EQ(lookup(), L"") << "value without terminator";
  set_raw_value(key_.get(), L"Tessaline 7 Path", REG_BINARY, text.c_str(),
                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  EXPECT_EQ(lookup(), L"") << "value of the wrong type";
  key_.reset();
  ASSERT_EQ(::SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Nuvelle"), ERROR_SUCCESS);
  EXPECT_EQ(lookup(), L"") << "maker key missing";
}

// Gives the maker key `dacl` (nullptr: everyone has full access).
LSTATUS set_maker_key_dacl(HKEY key, PACL dacl) {
  SECURITY_DESCRIPTOR sd;
  ::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  ::SetSecurityDescriptorDacl(&sd, TRUE, dacl, FALSE);
  return ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
}

TEST_F(ProductPath, AccessDeniedIsRaised) {
  record(exe_.wstring());
  ACL empty;
  ASSERT_TRUE(::InitializeAcl(&empty, sizeof empty, ACL_REVISION));
  ASSERT_EQ(set_maker_key_dacl(key_.get(), &empty), ERROR_SUCCESS);
  HKEY probe = nullptr;
  const bool enforced =
      ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Nuvelle", 0, KEY_QUERY_VALUE, &probe) ==
      ERROR_ACCESS_DENIED;
  const nv::reg_key owned_probe(probe);
  if (!enforced) {
    set_maker_key_dacl(key_.get(), nullptr);
    GTEST_SKIP() << "registry key access lists are not enforced here";
  }
  try {
    nv::product_path();
    ADD_FAILURE() << "no system_error for an unreadable maker key";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code(), std::error_code(ERROR_ACCESS_DENIED, std::system_category()));
  }
  // The failure is not cached as an answer: once readable, the value is looked up.
  ASSERT_EQ(set_maker_key_dacl(key_.get(), nullptr), ERROR_SUCCESS);
  std::ofstream(exe_) << "exe";
  EXPECT_EQ(nv::product_path(), exe_.wstring());
}

}  // namespace
