#include "uninstaller/removal_steps.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "steps/product_registration.h"
#include "nv/link_test_support.h"
#include "nv/product.h"
#include "nv/product_test_support.h"
#include "nv/registry.h"

namespace {

namespace fs = std::filesystem;
using uninstaller::Outcome;

void write(const fs::path& path) { std::ofstream(path) << "content"; }

TEST(RemovalSteps, FilesFoldersAndLinksOnDisk) {
  nv_test::temp_folder folder;
  const fs::path root = folder.path();
  const std::wstring place = root.wstring();
  const fs::path readOnly = root / L"Tessaline.exe";
  write(readOnly);
  ::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(uninstaller::RemoveFileOrLink(readOnly.wstring(), place).outcome, Outcome::removed);
  EXPECT_FALSE(fs::exists(readOnly));
  EXPECT_EQ(uninstaller::RemoveFileOrLink(readOnly.wstring(), place).outcome, Outcome::absent);
  EXPECT_EQ(uninstaller::RemoveFileOrLink((root / L"missing\\x.dll").wstring(), place).outcome,
            Outcome::absent);

  // A folder named as a file is not removed as one.
  const fs::path sub = root / L"Lang";
  fs::create_directories(sub);
  const auto asFile = uninstaller::RemoveFileOrLink(sub.wstring(), place);
  EXPECT_EQ(asFile.outcome, Outcome::failed);
  EXPECT_EQ(asFile.error.value(), ERROR_DIRECTORY);

  write(sub / L"kept.txt");
  EXPECT_EQ(uninstaller::RemoveEmptyFolder(sub.wstring(), place, {}).outcome, Outcome::notEmpty);
  EXPECT_TRUE(fs::exists(sub / L"kept.txt"));
  fs::remove(sub / L"kept.txt");
  EXPECT_EQ(uninstaller::RemoveEmptyFolder(sub.wstring(), place, {}).outcome, Outcome::removed);
  EXPECT_EQ(uninstaller::RemoveEmptyFolder(sub.wstring(), place, {}).outcome, Outcome::absent);

  // A folder that is a link goes as the link: what it points to keeps its files.
  const fs::path target = root / L"Target";
  fs::create_directories(target);
  write(target / L"data.txt");
  nv_test::planted_links links({target.wstring()});
  EXPECT_EQ(uninstaller::RemoveEmptyFolder(target.wstring(), place, {}).outcome, Outcome::notEmpty);
  EXPECT_TRUE(fs::exists(target / L"data.txt"));
}

TEST(RemovalSteps, UninstallKeyAndProductPathValue) {
  nv_test::scratch_machine_key machine;
  const std::wstring product = nv::product_registry_name(nv::tessaline_7);
  nv::set_current_product(nv::tessaline_7);
  {
    const auto key = nv_test::scratch_machine_key::create(
        HKEY_LOCAL_MACHINE, (std::wstring(engine::uninstallKeyParent) + L"\\" + product).c_str());
    nv_test::set_string_value(key.get(), L"DisplayName", L"Tessaline 7.08v");
  }
  EXPECT_EQ(uninstaller::RemoveUninstallKey().outcome, Outcome::removed);
  EXPECT_EQ(uninstaller::RemoveUninstallKey().outcome, Outcome::absent);

  // The maker's key goes with the value when nothing else is in it ...
  {
    const auto key = nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE, engine::makerKey);
    nv_test::set_string_value(key.get(), (product + L" Path").c_str(), L"C:\\T\\Tessaline.exe");
  }
  EXPECT_EQ(uninstaller::RemoveProductPath().outcome, Outcome::removed);
  HKEY raw = nullptr;
  EXPECT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, engine::makerKey, 0, KEY_READ, &raw),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(uninstaller::RemoveProductPath().outcome, Outcome::absent);

  // ... and stays for the maker's other products.
  {
    const auto key = nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE, engine::makerKey);
    nv_test::set_string_value(key.get(), (product + L" Path").c_str(), L"C:\\T\\Tessaline.exe");
    nv_test::set_string_value(key.get(), L"Other 2 Path", L"C:\\O\\Other.exe");
  }
  EXPECT_EQ(uninstaller::RemoveProductPath().outcome, Outcome::removed);
  ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, engine::makerKey, 0, KEY_READ, &raw),
            ERROR_SUCCESS);
  const nv::reg_key maker(raw);
  std::wstring text;
  EXPECT_TRUE(nv::reg_read_string(maker.get(), L"Other 2 Path", text));
  EXPECT_FALSE(nv::reg_read_string(maker.get(), (product + L" Path").c_str(), text));
}

TEST(RemovalSteps, UnregistrationCommandLineQuotesAPathWithBlanks) {
  EXPECT_EQ(uninstaller::UnregistrationCommandLine(L"C:\\T7\\Tessaline.exe"),
            L"C:\\T7\\Tessaline.exe /Unregister /Background");
  EXPECT_EQ(uninstaller::UnregistrationCommandLine(L"C:\\Program Files\\T 7\\Tessaline.exe"),
            L"\"C:\\Program Files\\T 7\\Tessaline.exe\" /Unregister /Background");
}

}  // namespace
