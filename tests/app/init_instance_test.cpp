// The installer's start-up from the application object: refusals (processor flag, a second
// installer, no administrator rights, the product still running), the language choice and the
// settings the wizard starts with. The wizard itself is replaced by a recorder; HKEY_LOCAL_MACHINE
// is a scratch key.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "app/install_app.h"
#include "app/install_startup.h"
#include "app/languages.h"
#include "nv/fatal_error.h"
#include "nv/fixed_path.h"
#include "nv/instance_tracking.h"
#include "nv/processor_check.h"
#include "nv/product.h"
#include "nv/product_test_support.h"
#include "nv/version_info.h"

namespace {

const wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessaline 7";

std::filesystem::path besideTests(const wchar_t* name) {
  wchar_t self[MAX_PATH]{};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return std::filesystem::path(self).parent_path() / name;
}

class InitInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    nv::check_processor();  // the start-up step this test program does not run by itself
    ASSERT_TRUE(nv::processor_supported);
    nv::details::reset_product_path_cache_for_tests();
    previousDisplay = nv::set_message_box_display([this](const nv::message_box_request& box) {
      boxes.push_back(box);
      if (answers.empty()) return IDCANCEL;
      const int answer = answers.front();
      answers.erase(answers.begin());
      return answer;
    });
    previousChecks = setStartupChecks({[this] { return administrator; },
                                       [this] {
                                         const std::uint32_t n =
                                             counts.empty() ? 1 : counts.front();
                                         if (!counts.empty()) counts.erase(counts.begin());
                                         return n;
                                       },
                                       [this] {
                                         wizardRuns.push_back(snapshot());
                                         return INT_PTR{IDCANCEL};
                                       }});
  }
  void TearDown() override {
    setStartupChecks(std::move(previousChecks));
    nv::set_message_box_display(std::move(previousDisplay));
    nv::details::reset_product_path_cache_for_tests();
  }

  struct settings {
    ExistingInstall existing;
    nv::ProductVersion previousVersion;
    std::wstring installFolder, menuFolder;
    bool menu, desktop, advanced;
    LanguageId language, selected;
  };
  // The settings of the application object that runs the wizard (the latest constructed).
  static settings snapshot() {
    const CInstallApp& a = installApp();
    return {a.existingInstall, a.previousVersion,          a.installFolder,
            a.menuFolder,      a.createMenuShortcut,       a.createDesktopShortcut,
            a.advancedMode,    currentLanguage().language, currentLanguage().selectedLanguage};
  }

  // Records `product` as the installed product's executable.
  void installProduct(const std::filesystem::path& product) {
    nv::reg_key key =
        nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE, L"Software\\Nuvelle");
    nv_test::set_string_value(key.get(), L"Tessaline 7 Path", product.native());
  }

  nv_test::scratch_machine_key machine;
  CInstallApp app;
  bool administrator = true;
  std::vector<std::uint32_t> counts;
  std::vector<int> answers;
  std::vector<nv::message_box_request> boxes;
  std::vector<settings> wizardRuns;
  nv::message_box_display previousDisplay;
  StartupChecks previousChecks;
};

TEST_F(InitInstanceTest, UnsupportedProcessorEndsWithTheSystemText) {
  nv::processor_supported = false;
  EXPECT_FALSE(app.InitInstance());
  nv::processor_supported = true;
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, nv::error_text(static_cast<DWORD>(E_UNEXPECTED)));
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
  EXPECT_TRUE(wizardRuns.empty());
  EXPECT_FALSE(app.installerMutex.owned());
}

TEST_F(InitInstanceTest, SecondInstallerEndsWithBusy) {
  HANDLE taken = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  nv::unique_handle takenOwner(taken), releaseOwner(release);
  std::thread other([&] {
    nv::named_mutex held(nv::mutex_name(nv::application_id()), true, true);
    ::SetEvent(taken);
    ::WaitForSingleObject(release, INFINITE);
    held.unlock();
  });
  ::WaitForSingleObject(taken, INFINITE);
  EXPECT_FALSE(app.InitInstance());
  ::SetEvent(release);
  other.join();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, nv::error_text(ERROR_BUSY));
  EXPECT_NE(boxes[0].caption, applicationTitle(true)) << "shown before the title is set";
  EXPECT_TRUE(wizardRuns.empty());
}

TEST_F(InitInstanceTest, NonAdministratorIsToldAndNothingElseRuns) {
  administrator = false;
  counts = {5};
  EXPECT_FALSE(app.InitInstance());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, localizedString(1126));
  EXPECT_EQ(boxes[0].caption, applicationTitle(true));
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
  EXPECT_EQ(counts.size(), 1u) << "the running instances were not counted";
  EXPECT_TRUE(wizardRuns.empty());
}

TEST_F(InitInstanceTest, RunningProductAsksUntilClosedOrCancelled) {
  counts = {2, 3};
  answers = {IDRETRY, IDCANCEL};
  EXPECT_FALSE(app.InitInstance());
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].text, formatLocalized(1127, {L"Tessaline"}));
  EXPECT_EQ(boxes[1].type, static_cast<UINT>(MB_RETRYCANCEL | MB_ICONEXCLAMATION));
  EXPECT_TRUE(wizardRuns.empty());

  boxes.clear();
  counts = {2, 1};
  answers = {IDRETRY};
  CInstallApp second;
  app.installerMutex.unlock();
  EXPECT_FALSE(second.InitInstance());
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_EQ(wizardRuns.size(), 1u);
}

TEST_F(InitInstanceTest, FreshMachineStartsWithDefaults) {
  nv::reg_key key = nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE, kUninstallKey);
  const DWORD danish = 6;
  nv_test::set_raw_value(key.get(), L"NvLanguage", REG_DWORD, &danish, sizeof danish);
  app.advancedMode = true;
  app.createDesktopShortcut = false;
  EXPECT_FALSE(app.InitInstance());
  ASSERT_EQ(wizardRuns.size(), 1u);
  const settings& s = wizardRuns[0];
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(s.existing, ExistingInstall::None);
  EXPECT_EQ(s.installFolder, defaultInstallFolder());
  EXPECT_EQ(s.menuFolder, defaultMenuFolder());
  EXPECT_TRUE(s.menu && s.desktop);
  EXPECT_FALSE(s.advanced);
  EXPECT_EQ(s.language, chooseStartLanguage(defaultLanguage(productLanguageMask), std::nullopt));
  EXPECT_EQ(s.selected, s.language);
  EXPECT_EQ(app.name(), applicationTitle(true));
  EXPECT_EQ(nv::current_lcid(), currentLanguage().lcid)
      << "the support library follows the language";
}

TEST_F(InitInstanceTest, OlderProductLendsItsLogFoldersNewerDoesNot) {
  nv_test::temp_folder folder;
  const auto product = folder.path() / L"Tessaline.exe";
  const auto log = folder.path() / L"Uninstall.ulog";
  const std::wstring previousInstall = (folder.path() / L"Old Install").native();
  const std::wstring previousMenu = (folder.path() / L"Old Menu").native();
  std::filesystem::create_directories(previousInstall);  // the log keeps existing folders only
  std::filesystem::create_directories(previousMenu);
  engine::CInstallJournal writer;
  ASSERT_TRUE(writer.WriteUninstallLog(log.native(), previousInstall, previousMenu));

  std::filesystem::copy_file(besideTests(L"tessaline_7_8_21_9.exe"), product);
  installProduct(product);
  app.InitInstance();
  ASSERT_EQ(wizardRuns.size(), 1u);
  EXPECT_EQ(wizardRuns[0].existing, ExistingInstall::OlderVersion);
  EXPECT_EQ(wizardRuns[0].previousVersion, 0x0007000800150009u);
  EXPECT_FALSE(app.previousVersionText.empty());
  EXPECT_EQ(app.uninstallLog.previousInstallFolder, previousInstall);
  EXPECT_EQ(wizardRuns[0].installFolder, previousInstall);
  EXPECT_EQ(wizardRuns[0].menuFolder, previousMenu);

  std::filesystem::copy_file(besideTests(L"tessaline_7_8_22_2.exe"), product,
                             std::filesystem::copy_options::overwrite_existing);
  nv::details::reset_product_path_cache_for_tests();
  app.installerMutex.unlock();
  CInstallApp second;
  second.InitInstance();
  ASSERT_EQ(wizardRuns.size(), 2u);
  EXPECT_EQ(wizardRuns[1].existing, ExistingInstall::NewerVersion);
  EXPECT_EQ(wizardRuns[1].installFolder, defaultInstallFolder());
  EXPECT_EQ(wizardRuns[1].menuFolder, defaultMenuFolder());
}

}  // namespace
