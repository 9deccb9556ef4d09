#include "nv/registry.h"

#include <windows.h>

#include <fstream>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "nv/product.h"
#include "product_test_support.h"

namespace {

using nv_test::scratch_machine_key;
using nv_test::set_raw_value;
using nv_test::set_string_value;

class Registry : public ::testing::Test {
 protected:
  scratch_machine_key scratch_;
  nv::reg_key key_ = scratch_machine_key::create(L"Software\\Nuvelle");
};

TEST_F(Registry, OpenKeyFindsExistingKeysAndReportsMissingOnesAsNull) {
  const nv::reg_key found = nv::reg_open_key(HKEY_LOCAL_MACHINE, L"Software\\Nuvelle");
  ASSERT_TRUE(found);
  // The key really is the scratch copy: a value written through it shows there.
  set_string_value(found.get(), L"Marker", L"scratch");
  std::wstring marker;
  const nv::reg_key direct =
      nv::reg_open_key(HKEY_CURRENT_USER, (scratch_.name() + L"\\Software\\Nuvelle").c_str());
  ASSERT_TRUE(direct);
  EXPECT_TRUE(nv::reg_read_string(direct.get(), L"Marker", marker));
  EXPECT_EQ(marker, L"scratch");

  EXPECT_FALSE(nv::reg_open_key(HKEY_LOCAL_MACHINE, L"Software\\Nuvelle\\Missing"));
  EXPECT_FALSE(nv::reg_open_key(HKEY_LOCAL_MACHINE, L"Software\\NoSuchMaker"));
}

TEST_F(Registry, OpenKeyRaisesOtherErrors) {
  try {
    nv::reg_open_key(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x00DEAD00)), L"Sub");
    ADD_FAILURE() << "no system_error for an invalid parent key";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().category(), std::system_category());
    EXPECT_NE(error.code().value(), ERROR_FILE_NOT_FOUND);
    EXPECT_NE(error.code().value(), ERROR_SUCCESS);
  }
}

TEST_F(Registry, ReadsStringsWithTheirTerminator) {
  set_string_value(key_.get(), L"Plain", L"C:\\Program Files\\Nuvelle");
  set_string_value(key_.get(), L"Expandable", L"%ProgramFiles%\\Nuvelle", REG_EXPAND_SZ);
  set_string_value(key_.get(), L"Empty", L"");
  set_raw_value(key_.get(), L"ZeroSize", REG_SZ, nullptr, 0);

  std::wstring out = L"previous";
  EXPECT_TRUE(nv::reg_read_string(key_.get(), L"Plain", out));
  EXPECT_EQ(out, L"C:\\Program Files\\Nuvelle");
  // Expandable text comes back as stored.
  EXPECT_TRUE(nv::reg_read_string(key_.get(), L"Expandable", out));
  EXPECT_EQ(out, L"%ProgramFiles%\\Nuvelle");
  out = L"previous";
  EXPECT_TRUE(nv::reg_read_string(key_.get(), L"Empty", out));
  EXPECT_EQ(out, L"");
  out = L"previous";
  EXPECT_TRUE(nv::reg_read_string(key_.get(), L"ZeroSize", out));
  EXPECT_EQ(out, L"");
}

TEST_F(Registry, RejectsValuesThatAreNotProperStrings) {
  const std::wstring text = L"C:\\Tessaline.exe";
  // Stored without its terminating 0.
  nv_test::set_unterminated_value(key_.get(), L"Unterminated", text);
  // Odd byte size: the terminator and half of another unit.
  set_raw_value(key_.get(), L"Odd", REG_SZ, text.c_str(),
                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t) + 1));
  const DWORD number = 7;
  set_raw_value(key_.get(), L"Number", REG_DWORD, &number, sizeof number);
  set_raw_value(key_.get(), L"Binary", REG_BINARY, text.c_str(),
                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  const wchar_t multi[] = L"a\0b\0";
  set_raw_value(key_.get(), L"Multi", REG_MULTI_SZ, multi, sizeof multi);

  for (const wchar_t* name : {L"Unterminated", L"Odd", L"Number", L"Binary", L"Multi", L"Missing"}) {
    std::wstring out = L"unchanged";
    EXPECT_FALSE(nv::reg_read_string(key_.get(), name, out)) << name;
    EXPECT_EQ(out, L"unchanged") << name;
  }
}

TEST_F(Registry, ReadRaisesOtherErrors) {
  set_string_value(key_.get(), L"Plain", L"text");
  HKEY raw = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Nuvelle", 0, KEY_SET_VALUE, &raw),
            ERROR_SUCCESS);
  const nv::reg_key write_only(raw);
  DWORD probe_type = 0;
  if (::RegQueryValueExW(write_only.get(), L"Plain", nullptr, &probe_type, nullptr, nullptr) ==
          ERROR_SUCCESS &&
      nv_test::running_under_wine())
    GTEST_SKIP() << "Wine does not check the access rights of this registry handle";

  std::wstring out = L"unchanged";
  try {
    nv::reg_read_string(write_only.get(), L"Plain", out);
    ADD_FAILURE() << "no system_error for a key opened without query access";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code(), std::error_code(ERROR_ACCESS_DENIED, std::system_category()));
  }
  EXPECT_EQ(out, L"unchanged");
}

// The product path lookup, each test starting with an empty cache.
class ProductPath : public Registry {
 protected:
  void SetUp() override {
    nv::set_current_product(nv::tessaline_7);
    nv::details::reset_product_path_cache_for_tests();
  }
  void TearDown() override { nv::details::reset_product_path_cache_for_tests(); }

  void record(const std::wstring& path) { set_string_value(key_.get(), L"Tessaline 7 Path", path); }

  static void create_file(const std::filesystem::path& path) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << "exe";
  }

  nv_test::temp_folder folder_;
};

TEST_F(ProductPath, ExistingFileIsReturnedAndKeptForTheProcess) {
  const auto exe = folder_.path() / L"Tessaline 7" / L"Tessaline.exe";
  create_file(exe);
  record(exe.wstring());
  EXPECT_EQ(nv::product_path(), exe.wstring());
  // Later changes go unnoticed: the first answer stays.
  record(L"C:\\Elsewhere\\Other.exe");
  std::filesystem::remove(exe);
  EXPECT_EQ(nv::product_path(), exe.wstring());
}

TEST_F(ProductPath, MissingAtFirstCallStaysEmptyWhenCreatedLater) {
  const auto exe = folder_.path() / L"Tessaline 7" / L"Tessaline.exe";
  record(exe.wstring());
  EXPECT_EQ(nv::product_path(), L"");
  create_file(exe);
  EXPECT_EQ(nv::product_path(), L"");
  // A fresh lookup (a new process) finds it.
  nv::details::reset_product_path_cache_for_tests();
  EXPECT_EQ(nv::product_path(), exe.wstring());
}

TEST_F(ProductPath, AnyKindOfEntryCounts) {
  record(folder_.path().wstring());
  EXPECT_EQ(nv::product_path(), folder_.path().wstring());
}

TEST_F(ProductPath, EmptyWithoutAUsableValue) {
  const auto exe = folder_.path() / L"Tessaline.exe";
  create_file(exe);
  // Value of another product only.
  set_string_value(key_.get(), L"Tessaline 6 Path", exe.wstring());
  EXPECT_EQ(nv::product_path(), L"");

  nv::details::reset_product_path_cache_for_tests();
  const std::wstring text = exe.wstring();
  nv_test::set_unterminated_value(key_.get(), L"Tessaline 7 Path", text);
  EXPECT_EQ(nv::product_path(), L"") << "value without terminator";

  nv::details::reset_product_path_cache_for_tests();
  set_raw_value(key_.get(), L"Tessaline 7 Path", REG_BINARY, text.c_str(),
                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  EXPECT_EQ(nv::product_path(), L"") << "value of the wrong type";

  nv::details::reset_product_path_cache_for_tests();
  ASSERT_EQ(::RegDeleteValueW(key_.get(), L"Tessaline 7 Path"), ERROR_SUCCESS);
  key_.reset();
  ASSERT_EQ(::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Nuvelle"), ERROR_SUCCESS);
  EXPECT_EQ(nv::product_path(), L"") << "maker key missing";
}

}  // namespace
