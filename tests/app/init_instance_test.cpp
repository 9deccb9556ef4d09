// The installer's start-up from the application object: refusals (processor flag, a second
// installer, no administrator rights, the product still running), the language choice and the
// settings the wizard starts with. The wizard itself is replaced by a recorder; HKEY_LOCAL_MACHINE
// is a scratch key.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "run/command_line.h"
#include "app/install_app.h"
#include "app/install_startup.h"
#include "localization/languages.h"
#include "app/unattended_install.h"
#include "transaction/journal_test_support.h"
#include "nv/fatal_error.h"
#include "nv/fixed_path.h"
#include "nv/instance_tracking.h"
#include "nv/processor_check.h"
#include "nv/product.h"
#include "nv/product_test_support.h"
#include "nv/utf8.h"
#include "nv/version_info.h"
#include "run/text_lines.h"

namespace {

using text_test::runLines;

const wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessaline 7";

std::filesystem::path besideTests(const wchar_t* name) {
  wchar_t self[MAX_PATH]{};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return std::filesystem::path(self).parent_path() / name;
}

// Another installer holding the single-instance mutex, from a thread of its own, while it lives.
class OtherInstaller {
 public:
  OtherInstaller() {
    holder_ = std::thread([this] {
      nv::named_mutex held(nv::mutex_name(nv::application_id()), true, true);
      ::SetEvent(taken_.get());
      ::WaitForSingleObject(release_.get(), INFINITE);
      held.unlock();
    });
    ::WaitForSingleObject(taken_.get(), INFINITE);
  }
  ~OtherInstaller() {
    ::SetEvent(release_.get());
    holder_.join();
  }

 private:
  nv::unique_handle taken_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  nv::unique_handle release_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::thread holder_;
};

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
                                         if (wizardThrows) throw std::runtime_error("unexpected");
                                         return INT_PTR{IDCANCEL};
                                       },
                                       [this] { return commandLine; },
                                       [this] {
                                         unattendedRuns.push_back(snapshot());
                                         if (unattendedThrows) {
                                           // As a failed installation logs its outcome and
                                           // passes the exception on.
                                           installApp().logFile.writeOutcome(L"failed here");
                                           throw std::runtime_error("unexpected");
                                         }
                                         return unattendedResult;
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
  // Start-up recovers the runs whose journals it finds; these tests keep theirs private.
  journal_test::private_journals journals;
  CInstallApp app;
  bool administrator = true;
  std::vector<std::uint32_t> counts;
  std::vector<int> answers;
  std::vector<nv::message_box_request> boxes;
  std::vector<settings> wizardRuns;
  std::wstring commandLine = L"InstallTessaline7.08v.exe";
  std::vector<settings> unattendedRuns;
  int unattendedResult = UnattendedExit::Installed;
  bool wizardThrows = false;
  bool unattendedThrows = false;
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

// Every refusal of an unattended run: no box, no wizard, no installation; the exit code names the
// reason, and the log file holds the reason and the exit code.
TEST_F(InitInstanceTest, UnattendedRefusalsEndWithTheirExitCodeAndNoBox) {
  nv_test::temp_folder folder;
  const auto newer = folder.path() / L"Tessaline.exe";
  std::filesystem::copy_file(besideTests(L"tessaline_7_8_22_2.exe"), newer);
  const struct {
    const char* name;
    std::function<std::shared_ptr<void>()> arrange;  // keeps the condition until the run ended
    std::wstring options;
    int exitCode;
    std::function<std::wstring()> reason;
    std::wstring run = {};  // the kind of run, named before the reason once it is known
  } cases[] = {
      {"processor", [] { nv::processor_supported = false; return nullptr; }, L"/S",
       UnattendedExit::ProcessorUnsupported,
       [] { return nv::error_text(static_cast<DWORD>(E_UNEXPECTED)); }},
      {"bad option", [] { return nullptr; }, L"/S /SHORTCUTS=start",
       UnattendedExit::BadCommandLine,
       [] { return describeOptionError({OptionFault::BadValue, L"/SHORTCUTS", {}}); }},
      {"folder through a file", [] { return nullptr; },
       L"/S /D=\"" + newer.native() + L"\\T7\"", UnattendedExit::BadCommandLine,
       [newer] {
         // The refusal names the value and the file in the way.
         return formatLocalized(1193, {L"/D=" + newer.native() + L"\\T7",
                                       formatLocalized(1198, {newer.native()})});
       }},
      {"a drive's root", [] { return nullptr; }, L"/S /D=C:\\", UnattendedExit::BadCommandLine,
       [] {
         return describeOptionError(
             {OptionFault::Unacceptable, L"/D", L"C:\\", engine::PlaceRefusal::systemFolder});
       }},
      {"a menu folder outside the Start menu", [] { return nullptr; },
       L"/S /MENU=C:\\Tools\\Tessaline", UnattendedExit::BadCommandLine,
       [] {
         return describeOptionError({OptionFault::Unacceptable, L"/MENU", L"C:\\Tools\\Tessaline",
                                     engine::PlaceRefusal::notBelowStartMenu});
       }},
      {"second installer", [] { return std::make_shared<OtherInstaller>(); }, L"/S",
       UnattendedExit::Busy, [] { return nv::error_text(ERROR_BUSY); }},
      {"not an administrator", [this] { administrator = false; return nullptr; }, L"/S",
       UnattendedExit::NotAdministrator, [] { return localizedString(1126); }},
      {"product running", [this] { counts = {2, 1}; return nullptr; }, L"/S", UnattendedExit::Busy,
       [] { return formatLocalized(1127, {L"Tessaline"}); }},
      {"newer version", [&] { installProduct(newer); return nullptr; }, L"/S",
       UnattendedExit::NewerInstalled,
       [this] { return formatLocalized(1103, {installApp().previousVersionText}); },
       L"Run: newer version 7.8.22.2 installed; 7.8.22.1 is not installed over it"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto log = folder.path() / (std::string(c.name) + ".log");
    commandLine = L"Install.exe " + c.options + L" /LOG=\"" + log.native() + L"\"";
    administrator = true;
    counts.clear();
    nv::details::reset_product_path_cache_for_tests();
    {
      const std::shared_ptr<void> condition = c.arrange();
      setCurrentLanguage(Languages::French);  // as a process starts
      CInstallApp run;
      EXPECT_FALSE(run.InitInstance());
      nv::processor_supported = true;
      EXPECT_EQ(run.exit_code(), c.exitCode);
      // The reason and the exit code are English, whatever language the run had by then.
      std::vector<std::wstring> expected = {inEnglish(c.reason),
                                            L"Exit code: " + std::to_wstring(c.exitCode) + L"."};
      if (!c.run.empty()) expected.insert(expected.begin(), c.run);
      EXPECT_EQ(runLines(log), expected);
    }
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(wizardRuns.empty());
    EXPECT_TRUE(unattendedRuns.empty());
    if (std::string(c.name) == "product running") {
      EXPECT_EQ(counts.size(), 1u) << "counted once, without waiting for the product";
    }
    nv::reg_key key =
        nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE, L"Software\\Nuvelle");
    ::RegDeleteValueW(key.get(), L"Tessaline 7 Path");  // after the newer version's case
  }
}

TEST_F(InitInstanceTest, UnattendedInstallTakesTheQuickSettingsAndTheOptions) {
  nv_test::temp_folder folder;
  const std::wstring target = (folder.path() / L"Other Place" / L"T 7").native();
  const auto log = folder.path() / L"install.log";
  commandLine = L"\"C:\\Setup Files\\Install.exe\" /s /D=\"" + target +
                L"\" /MENU=\"Nuvelle Test\\Menu\" /SHORTCUTS=desktop /LANG=pl /LOG=\"" +
                log.native() + L"\"";
  unattendedResult = UnattendedExit::Failed;
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(app.exit_code(), UnattendedExit::Failed) << "the installation's own outcome";
  EXPECT_TRUE(boxes.empty()) << "not even the language message";
  EXPECT_TRUE(wizardRuns.empty());
  ASSERT_EQ(unattendedRuns.size(), 1u);
  const settings& s = unattendedRuns[0];
  EXPECT_EQ(s.installFolder, target);
  EXPECT_EQ(s.menuFolder, programsMenuFolder() + L"\\Nuvelle Test\\Menu");
  EXPECT_FALSE(s.menu);
  EXPECT_TRUE(s.desktop);
  EXPECT_FALSE(s.advanced);
  EXPECT_EQ(s.language, Languages::English) << "the installer does not speak Polish";
  EXPECT_EQ(s.selected, Languages::Polish) << "the product is recorded in Polish";
  EXPECT_EQ(runLines(log), (std::vector<std::wstring>{formatLocalized(1129, {L"Tessaline"}),
                                                      L"Run: first installation of 7.8.22.1",
                                                      L"Exit code: 1603."}));
}

// An exception that ends the wizard or the unattended run ends the installer with 1603 and one
// outcome line in the /LOG file before its exit code.
TEST_F(InitInstanceTest, AnUnexpectedExceptionEndsAsAFailureWithItsOutcomeLogged) {
  for (const bool unattended : {false, true}) {
    SCOPED_TRACE(unattended ? "unattended" : "wizard");
    const auto log = journals.folder.path() / (unattended ? L"unattended.log" : L"wizard.log");
    commandLine = std::wstring(L"Install.exe ") + (unattended ? L"/S " : L"") + L"/LOG=\"" +
                  log.native() + L"\"";
    wizardThrows = unattendedThrows = true;
    CInstallApp run;
    EXPECT_FALSE(run.InitInstance());
    EXPECT_EQ(run.exit_code(), UnattendedExit::Failed);
    const auto lines = text_test::runLines(log);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              unattended ? std::wstring(L"failed here")
                         : std::wstring(L"Installation failed (Error Code 7)."));
    EXPECT_EQ(lines.back(), L"Exit code: 1603.");
  }
}

TEST_F(InitInstanceTest, WizardRunStartsWithTheOptions) {
  commandLine = L"Install.exe /LANG=nl /SHORTCUTS=none /D=C:\\Apps\\T7";
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(app.exit_code(), 0);
  ASSERT_EQ(boxes.size(), 1u) << "Dutch is said to be unavailable, as on the Start page";
  EXPECT_EQ(boxes[0].text, formatLocalized(1129, {L"Tessaline"}));
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(boxes[0].caption, applicationTitle(true));
  ASSERT_EQ(wizardRuns.size(), 1u);
  EXPECT_TRUE(unattendedRuns.empty());
  const settings& s = wizardRuns[0];
  EXPECT_EQ(s.installFolder, L"C:\\Apps\\T7");
  EXPECT_EQ(s.menuFolder, defaultMenuFolder());
  EXPECT_FALSE(s.menu || s.desktop);
  EXPECT_EQ(s.language, Languages::English);
  EXPECT_EQ(s.selected, Languages::Dutch);
}

// A refused command line, or the list of options: a box in the wizard's run and nothing else;
// nothing at all in an unattended one. Either ends with exit code 0 but for a refusal with /S.
TEST_F(InitInstanceTest, RefusedCommandLineAndHelpRunNothing) {
  const struct {
    const wchar_t* options;
    std::function<std::vector<std::wstring>()> boxTexts;
    int exitCode;
  } cases[] = {
      {L"/D=Apps", [] {
         return std::vector<std::wstring>{
             describeOptionError({OptionFault::RelativePath, L"/D", {}}) + L"\r\n\r\n" +
             localizedString(1142)};
       }, 0},
      {L"/? /BOGUS", [] {
         return std::vector<std::wstring>{
             describeOptionError({OptionFault::Unknown, L"/BOGUS", {}}) + L"\r\n\r\n" +
             localizedString(1142)};
       }, 0},
      {L"/D=Apps /S", [] { return std::vector<std::wstring>{}; }, UnattendedExit::BadCommandLine},
      {L"/HELP", [] { return std::vector<std::wstring>{localizedString(1143)}; }, 0},
      {L"/S /?", [] { return std::vector<std::wstring>{}; }, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.options);
    boxes.clear();
    commandLine = L"Install.exe " + std::wstring(c.options);
    CInstallApp run;
    EXPECT_FALSE(run.InitInstance());
    EXPECT_EQ(run.exit_code(), c.exitCode);
    std::vector<std::wstring> texts;
    for (const auto& box : boxes) {
      texts.push_back(box.text);
      EXPECT_EQ(box.caption, applicationTitle(true));
    }
    EXPECT_EQ(texts, c.boxTexts());
    EXPECT_TRUE(wizardRuns.empty());
    EXPECT_TRUE(unattendedRuns.empty());
    EXPECT_FALSE(run.installerMutex.owned()) << "nothing ran that needs the mutex";
  }
}

// A run killed after it created the uninstall key with a German "NvLanguage": start-up undoes it
// before it reads the stored language, then tells so in a box, or with /S in the log alone.
TEST_F(InitInstanceTest, InterruptedRunIsUndoneBeforeTheLanguageIsReadAndTold) {
  const LanguageId startLanguage =
      chooseStartLanguage(defaultLanguage(productLanguageMask), std::nullopt);
  ASSERT_NE(startLanguage, Languages::German);
  for (const bool unattended : {false, true}) {
    SCOPED_TRACE(unattended ? "unattended" : "wizard");
    ASSERT_NO_FATAL_FAILURE(
        journal_test::abandon_run_that_created_key(kUninstallKey, Languages::German));
    const auto log = journals.folder.path() / L"run.log";
    commandLine = unattended ? L"Install.exe /S /LOG=\"" + log.native() + L"\"" : L"Install.exe";
    boxes.clear();
    wizardRuns.clear();
    unattendedRuns.clear();
    CInstallApp run;
    EXPECT_FALSE(run.InitInstance());
    const std::vector<settings>& runs = unattended ? unattendedRuns : wizardRuns;
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].language, startLanguage) << "the undone key's language was not read";
    HKEY raw = nullptr;
    EXPECT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &raw),
              ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(std::filesystem::exists(journals.folder.path() / L"Journal"));
    if (unattended) {
      EXPECT_TRUE(boxes.empty());
      EXPECT_EQ(runLines(log), (std::vector<std::wstring>{localizedString(1145),
                                                          L"Run: first installation of 7.8.22.1",
                                                          L"Exit code: 0."}));
    } else {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, localizedString(1145));
      EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    }
  }
}

}  // namespace
