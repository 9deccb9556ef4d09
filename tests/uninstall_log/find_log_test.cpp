// Locating the previous log: beside the uninstall command, beside the installer, beside the
// installed product, in that order; registry failures never escape.
#include "uninstall_log/find_log.h"

#include <windows.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "machine/trust_test_support.h"

#include "nv/product.h"
#include "nv/product_test_support.h"
#include "ulog_test_support.h"
#include "wine.h"

namespace {

using uninstall_log::details::FindUninstallLogFrom;

const wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessaline 7";

class FindLog : public ::testing::Test {
 protected:
  FindLog() {
    nv::set_current_product(nv::tessaline_7);
    nv::details::reset_product_path_cache_for_tests();
    for (const wchar_t* name : {L"uninstall", L"installer", L"product"})
      std::filesystem::create_directories(folder_.path() / name);
  }
  ~FindLog() override { nv::details::reset_product_path_cache_for_tests(); }

  std::wstring place_log(const wchar_t* folder) {
    const std::filesystem::path path = folder_.path() / folder / L"Uninstall.ulog";
    ulog_test::write_bytes(path, "log");
    return path.native();
  }
  void set_uninstall_string(const std::wstring& value) {
    const nv::reg_key key = scratch_.create(HKEY_LOCAL_MACHINE, kUninstallKey);
    nv_test::set_string_value(key.get(), L"UninstallString", value);
  }
  void set_product_path(const std::filesystem::path& exe) {
    ulog_test::write_bytes(exe, "exe");
    const nv::reg_key key = scratch_.create(HKEY_LOCAL_MACHINE, L"Software\\Nuvelle");
    nv_test::set_string_value(key.get(), L"Tessaline 7 Path", exe.native());
    nv::details::reset_product_path_cache_for_tests();
  }
  std::wstring find(const std::wstring& installer) {
    std::error_code error = std::make_error_code(std::errc::io_error);
    std::wstring found = FindUninstallLogFrom(installer, error);
    EXPECT_FALSE(error) << error.message();
    return found;
  }

  nv_test::scratch_machine_key scratch_;
  nv_test::temp_folder folder_;
  std::wstring installer_ = (folder_.path() / L"installer").native();
};

TEST_F(FindLog, EachSourceInItsOrder) {
  EXPECT_EQ(find(installer_), L"");

  set_product_path(folder_.path() / L"product" / L"Tessaline.exe");
  const std::wstring beside_product = place_log(L"product");
  EXPECT_EQ(find(installer_), beside_product);

  const std::wstring beside_installer = place_log(L"installer");
  EXPECT_EQ(find(installer_), beside_installer);

  const std::wstring beside_uninstaller = place_log(L"uninstall");
  set_uninstall_string((folder_.path() / L"uninstall" / L"Uninstall.exe").native());
  EXPECT_EQ(find(installer_), beside_uninstaller);
  // The parent folder with either separator, runs of them included.
  set_uninstall_string(folder_.path().native() + L"/uninstall//Uninstall.exe");
  EXPECT_TRUE(std::filesystem::equivalent(find(installer_), beside_uninstaller));
  // The value is taken verbatim: in quotation marks it names no folder; without any separator
  // it names none either. The search goes on.
  set_uninstall_string(L"\"" + folder_.path().native() + L"\\uninstall\\Uninstall.exe\"");
  EXPECT_EQ(find(installer_), beside_installer);
  set_uninstall_string(L"Uninstall.exe");
  EXPECT_EQ(find(installer_), beside_installer);
}

// A log that a user may have put beside the installer (its downloads folder) is passed over: the
// elevated installer would take its folders and merge its records.
TEST_F(FindLog, ALogBesideTheInstallerThatUsersMayChangeIsPassedOver) {
  set_product_path(folder_.path() / L"product" / L"Tessaline.exe");
  const std::wstring beside_product = place_log(L"product");
  const std::wstring beside_installer = place_log(L"installer");
  {
    const trust_test::planted_where planted(L"\\installer");
    EXPECT_EQ(find(installer_), beside_product);
  }
  EXPECT_EQ(find(installer_), beside_installer);
}

TEST_F(FindLog, ProductPathSourceWhenTheOthersHaveNothing) {
  set_uninstall_string((folder_.path() / L"uninstall" / L"Uninstall.exe").native());
  set_product_path(folder_.path() / L"product" / L"Tessaline.exe");
  const std::wstring beside_product = place_log(L"product");
  EXPECT_EQ(find(installer_), beside_product);
  EXPECT_EQ(find(L""), beside_product);
}

TEST_F(FindLog, RegistryFailureCountsAsNothingFoundThere) {
  // The redirected machine key is deleted while still redirected: every open under it fails
  // with an error other than "not found".
  const std::wstring name = L"Software\\NvUninstallLogTests\\" + nv_test::unique_name(L"gone_");
  nv::reg_key gone = nv_test::scratch_machine_key::create(HKEY_CURRENT_USER, name.c_str());
  ASSERT_EQ(::RegOverridePredefKey(HKEY_LOCAL_MACHINE, gone.get()), ERROR_SUCCESS);
  ::SHDeleteKeyW(HKEY_CURRENT_USER, name.c_str());
  ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\NvUninstallLogTests");
  HKEY probe = nullptr;
  const LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ, &probe);
  const nv::reg_key probe_owner(probe);
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
    GTEST_SKIP() << "opening under a deleted key does not fail here (status " << status << ")";
  }

  std::error_code error;
  EXPECT_EQ(FindUninstallLogFrom(installer_, error), L"");
  EXPECT_EQ(error, std::error_code(static_cast<int>(status), std::system_category()));

  const std::wstring beside_installer = place_log(L"installer");
  error.clear();
  EXPECT_EQ(FindUninstallLogFrom(installer_, error), beside_installer);
  EXPECT_TRUE(error);

  // The form that start-up calls neither raises nor invents a path.
  std::wstring found;
  EXPECT_NO_THROW(found = uninstall_log::FindUninstallLog());
  EXPECT_TRUE(found.empty() || ::GetFileAttributesW(found.c_str()) != INVALID_FILE_ATTRIBUTES);
}

}  // namespace
