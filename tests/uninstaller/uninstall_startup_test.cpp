#include "uninstaller/uninstall_app.h"

#include <windows.h>

#include <functional>
#include <stdexcept>
#include <utility>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "run/text_lines.h"
#include "transaction/journal_test_support.h"
#include "localization/languages.h"
#include "localization/start_language.h"
#include "nv/fatal_error.h"
#include "nv/processor_check.h"
#include "nv/instance_tracking.h"
#include "nv/unique_handle.h"
#include "nv/product_test_support.h"
#include "nv/version_info.h"
#include "uninstaller/uninstall_run.h"

namespace {

namespace Exit = uninstaller::UninstallExit;

struct StartupCase {
  const char* what;
  std::wstring commandLine;
  bool administrator;
  std::vector<std::uint32_t> counts;  // running instances, one per question
  std::vector<int> answers;           // to the message boxes, in order
  int exitCode;
  std::vector<UINT> boxes;            // the messages shown, by id (none in an unattended run)
};

// Start-up refuses before it removes anything: nothing in these cases reaches a log, since this
// test program's folder has none.
TEST(UninstallStartup, EachRefusalEndsWithItsExitCodeAndItsMessage) {
  nv::check_processor();
  ASSERT_TRUE(nv::processor_supported);
  const std::vector<StartupCase> cases = {
      {"bad option, unattended", L"Uninstall.exe /S /D=C:\\T", true, {}, {}, Exit::BadCommandLine, {}},
      {"help, unattended", L"Uninstall.exe /s /?", true, {}, {}, Exit::Removed, {}},
      {"not an administrator, unattended", L"Uninstall.exe /S", false, {}, {}, Exit::NotAdministrator, {}},
      {"product running, unattended", L"Uninstall.exe /S", true, {2}, {}, Exit::Busy, {}},
      {"no log, unattended", L"Uninstall.exe /S /REMOVEEXAMPLES", true, {}, {}, Exit::Failed, {}},
      {"not an administrator", L"Uninstall.exe", false, {}, {IDOK}, Exit::NotAdministrator, {1174}},
      {"product running, Retry then Cancel", L"Uninstall.exe", true, {2, 2}, {IDRETRY, IDCANCEL}, 0, {1175, 1175}},
      {"product closed after Retry, no log", L"Uninstall.exe", true, {2, 1}, {IDRETRY, IDOK}, Exit::Failed, {1175, 1173}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    nv_test::scratch_machine_key machine;
    // Start-up recovers the runs whose journals it finds; these tests keep theirs private.
    journal_test::private_journals journals;
    std::vector<nv::message_box_request> shown;
    auto answers = c.answers;
    auto counts = c.counts;
    const auto previousDisplay = nv::set_message_box_display([&](const nv::message_box_request& box) {
      shown.push_back(box);
      const int answer = answers.empty() ? IDCANCEL : answers.front();
      if (!answers.empty()) answers.erase(answers.begin());
      return answer;
    });
    const auto previousChecks = uninstaller::setUninstallChecks(
        {[&] { return c.administrator; },
         [&] {
           const std::uint32_t n = counts.empty() ? 1 : counts.front();
           if (!counts.empty()) counts.erase(counts.begin());
           return n;
         },
         [&] { return c.commandLine; }});
    {
      uninstaller::CUninstallApp app;
      EXPECT_FALSE(app.InitInstance());
      EXPECT_EQ(app.exit_code(), c.exitCode);
    }
    uninstaller::setUninstallChecks(previousChecks);
    nv::set_message_box_display(previousDisplay);

    ASSERT_EQ(shown.size(), c.boxes.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
      // The texts name the product; 1173 names the log's path, of which only the text before
      // it is compared.
      const std::wstring pattern = localizedString(c.boxes[i]);
      ASSERT_FALSE(pattern.empty());
      if (c.boxes[i] == 1173)
        EXPECT_EQ(shown[i].text.substr(0, pattern.find(L"%1")), pattern.substr(0, pattern.find(L"%1")));
      else
        EXPECT_EQ(shown[i].text, formatLocalized(c.boxes[i], {L"Tessaline"}));
    }
  }
}

// Runs the uninstaller unattended with a /LOG file beside `journals`, as an administrator, with
// `running` answering how many product instances run; its exit code and the log's lines.
std::pair<int, std::vector<std::wstring>> unattendedRun(
    const journal_test::private_journals& journals,
    std::function<std::uint32_t()> running = [] { return std::uint32_t{1}; }) {
  const auto log = journals.folder.path() / L"uninstall.log";
  const auto previousChecks = uninstaller::setUninstallChecks(
      {[] { return true; }, std::move(running),
       [&] { return L"Uninstall.exe /S /LOG=\"" + log.native() + L"\""; }});
  int exitCode = 0;
  {
    uninstaller::CUninstallApp app;
    EXPECT_FALSE(app.InitInstance());
    exitCode = app.exit_code();
  }
  uninstaller::setUninstallChecks(previousChecks);
  return {exitCode, text_test::runLines(log)};
}

// An installation killed half-way is undone before the uninstaller reads anything of the
// machine: here the uninstall key it had written, with a language the uninstaller must not take.
TEST(UninstallStartup, AnInterruptedInstallationIsUndoneFirstAndLogged) {
  nv::check_processor();
  nv_test::scratch_machine_key machine;
  journal_test::private_journals journals;
  const wchar_t* const key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessaline 7";
  ASSERT_NO_FATAL_FAILURE(journal_test::abandon_run_that_created_key(key, Languages::German));
  const auto [exitCode, lines] = unattendedRun(journals);
  EXPECT_EQ(exitCode, Exit::Failed);  // this test program's folder has no log
  EXPECT_EQ(currentLanguage().language,
            chooseStartLanguage(defaultLanguage(productLanguageMask), std::nullopt));
  HKEY raw = nullptr;
  EXPECT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &raw), ERROR_FILE_NOT_FOUND);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], L"Run: removal of Tessaline 7.08v");
  EXPECT_EQ(lines[1], localizedString(1145));
  EXPECT_EQ(lines.back(), L"Exit code: 1603.");
}

// An exception that ends the uninstaller (here while it asks whether the product runs) ends it
// with 1603 and the outcome in the /LOG file; nothing was removed.
TEST(UninstallStartup, AnUnexpectedExceptionEndsAsAFailureWithItsOutcomeLogged) {
  nv::check_processor();
  nv_test::scratch_machine_key machine;
  journal_test::private_journals journals;
  const auto [exitCode, lines] =
      unattendedRun(journals, []() -> std::uint32_t { throw std::runtime_error("unexpected"); });
  EXPECT_EQ(exitCode, Exit::Failed);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], localizedString(1188));
  EXPECT_EQ(lines.back(), formatLocalized(1144, {L"1603"}));
}

// A refusal at the single-instance mutex comes before the language is chosen: the /LOG file's
// lines are English, whatever language the process had.
TEST(UninstallStartup, ARefusalAtTheMutexLogsInEnglish) {
  nv::check_processor();
  nv_test::scratch_machine_key machine;
  journal_test::private_journals journals;
  if (nv::application_id().empty()) nv::initialize_application_id();
  // Another thread holds the installer's mutex, as a running installer does.
  const nv::unique_handle held(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const nv::unique_handle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread holder([&] {
    nv::named_mutex mutex(nv::mutex_name(nv::application_id()), false, true);
    const bool locked = mutex.try_lock();
    ::SetEvent(held.get());
    ::WaitForSingleObject(release.get(), INFINITE);
    if (locked) mutex.unlock();
  });
  ::WaitForSingleObject(held.get(), INFINITE);
  setCurrentLanguage(Languages::French);
  const auto [exitCode, lines] = unattendedRun(journals);
  ::SetEvent(release.get());
  holder.join();
  setCurrentLanguage(Languages::English);
  EXPECT_EQ(exitCode, Exit::Busy);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), formatLocalized(1144, {L"1618"}));
}

}  // namespace
