#include "steps/directx_setup.h"
#include "steps/message_pump.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "localization/languages.h"
#include "nv/unique_handle.h"
#include "nv/utf8.h"
#include "ui/message_filter.h"

namespace {

using namespace engine;
using Lines = std::vector<std::wstring>;

constexpr UINT kProbe = WM_APP + 17;
const std::wstring kCaption = L"Mise \u00e0 jour de DirectX...";  // string 1131, French and English
int probesDispatched = 0;

LRESULT CALLBACK probeProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kProbe) return ++probesDispatched, 0;
  return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

// Stands in for the Progress page; its window counts the probe messages dispatched to it.
struct TestProgress : InstallProgress {
  TestProgress() {
    WNDCLASSW wc{0, &probeProcedure, 0, 0, ::GetModuleHandleW(nullptr)};
    wc.lpszClassName = L"NvDirectXProbe";
    ::RegisterClassW(&wc);  // already registered by an earlier test: harmless
    window = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 50, 50, nullptr,
                               nullptr, wc.hInstance, nullptr);
    probesDispatched = 0;
  }
  ~TestProgress() override { ::DestroyWindow(window); }
  void setStatus(const std::wstring& text) override { statuses.push_back(text); }
  void appendLog(const std::wstring& text, bool) override { log += text; }
  HWND ownerWindow() const override { return window; }
  HWND window;
  Lines statuses;
  std::wstring log;
};

// Each test has its own folder for the stand-in library and the record of its calls, default
// stand-in settings, French current and an empty message queue.
class DirectXTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    wchar_t temp[MAX_PATH];
    ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
    folder_ = temp + (L"nvdx_" + std::to_wstring(::GetCurrentProcessId())) + L"_" +
              std::to_wstring(++counter);
    ASSERT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr));
    library_ = folder_ + L"\\DSetup.dll";
    record_ = folder_ + L"\\calls.txt";
    resetSettings();
    ::SetEnvironmentVariableW(L"NV_DSETUP_RECORD", record_.c_str());
    setCurrentLanguage(Languages::French);
    drainQueue();
  }
  void TearDown() override {
    drainQueue();
    resetSettings();
    setCurrentLanguage(Languages::French);
    EXPECT_FALSE(loaded()) << "the library was not freed";
    ::DeleteFileW(library_.c_str());
    ::DeleteFileW(record_.c_str());
    EXPECT_TRUE(::RemoveDirectoryW(folder_.c_str()));
  }
  static void resetSettings() {
    for (const wchar_t* name : {L"VERSION", L"REVISION", L"GETVERSION_RESULT", L"RESULT",
                                L"PROGRESS_CALLS", L"RECORD"})
      ::SetEnvironmentVariableW((std::wstring(L"NV_DSETUP_") + name).c_str(), nullptr);
  }
  static void set(const wchar_t* name, const wchar_t* value) {
    ::SetEnvironmentVariableW((std::wstring(L"NV_DSETUP_") + name).c_str(), value);
  }
  static void drainQueue() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  // Copies a build of the stand-in from beside the test program into the folder as "DSetup.dll".
  void installLibrary(const std::wstring& build = L"DSetup.dll") {
    wchar_t program[MAX_PATH];
    std::wstring source(program, ::GetModuleFileNameW(nullptr, program, MAX_PATH));
    source = source.substr(0, source.find_last_of(L'\\') + 1) + build;
    ASSERT_TRUE(::CopyFileW(source.c_str(), library_.c_str(), FALSE)) << ::GetLastError();
  }
  bool loaded() const { return ::GetModuleHandleW(library_.c_str()) != nullptr; }

  // The calls recorded by the stand-in since the record was last cleared, one line each.
  Lines takeCalls() const {
    std::string bytes(16384, '\0');
    DWORD read = 0;
    {
      nv::unique_handle file(::CreateFileW(record_.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
      if (file) ::ReadFile(file.get(), bytes.data(), 16384, &read, nullptr);
    }
    ::DeleteFileW(record_.c_str());
    const std::wstring text = nv::from_utf8(std::string_view(bytes.data(), read));
    Lines lines;
    for (size_t start = 0, end; (end = text.find(L'\n', start)) != text.npos; start = end + 1)
      lines.push_back(text.substr(start, end - start));
    return lines;
  }
  Lines runCalls(HWND owner) const {
    wchar_t window[16];
    std::swprintf(window, 16, L"0x%08lX", static_cast<unsigned long>(UINT_PTR(owner)));
    return {L"GetVersion", L"SetCallback registered",
            L"Setup owner=" + std::wstring(window) + L" flags=0x00010018 folder=" + folder_ +
                L" callbacks=1:1,18:1,18:1,18:1"};
  }

  std::wstring folder_, library_, record_;
};

// Accepted only with success, version >= 0x40009 and revision >= 903; a refused library was
// asked for its version and is freed again; destruction frees an accepted one.
TEST_F(DirectXTest, OpenAcceptsOnlyRecentLibraries) {
  EXPECT_EQ(CDirectXSetup(folder_).module(), nullptr) << "no library in the folder";
  installLibrary();
  struct {
    const wchar_t *version, *revision, *result;
    bool accepted;
  } const cases[] = {{L"0x40009", L"902", L"1", false}, {L"0x40009", L"903", L"1", true},
                     {L"0x40008", L"5000", L"1", false}, {L"0x4000A", L"904", L"-1", true},
                     {L"0x40009", L"903", L"0", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::wstring(c.version) + L"/" + c.revision + L" result " + c.result);
    set(L"VERSION", c.version);
    set(L"REVISION", c.revision);
    set(L"GETVERSION_RESULT", c.result);
    {
      CDirectXSetup setup(folder_);
      EXPECT_EQ(setup.module() != nullptr, c.accepted);
      EXPECT_EQ(loaded(), c.accepted);
      EXPECT_EQ(takeCalls(), Lines{L"GetVersion"});
    }
    EXPECT_FALSE(loaded());
  }
}

// Run registers the callback, passes owner, folder and DSETUP_DIRECTX, and counts only 0 and 1
// as success; without the setup entry points it fails.
TEST_F(DirectXTest, RunJudgesTheSetupResult) {
  installLibrary();
  TestProgress owner;
  for (const auto& [result, success] : {std::pair{L"0", true}, {L"1", true}, {L"2", false},
                                        {L"-1", false}}) {
    SCOPED_TRACE(result);
    set(L"RESULT", result);
    CDirectXSetup setup(folder_);
    EXPECT_EQ(setup.Run(owner.window), success);
    EXPECT_EQ(takeCalls(), runCalls(owner.window));
  }
  installLibrary(L"DSetup_noentries.dll");
  CDirectXSetup setup(folder_);
  ASSERT_NE(setup.module(), nullptr);
  EXPECT_FALSE(setup.Run(owner.window));
}

// The pump dispatches what waits and stops at a quit request, which it puts back once with its
// exit code; the callback answers 1 to every reason and pumps only for reason 18.
TEST_F(DirectXTest, PumpAndCallback) {
  TestProgress page;
  ASSERT_TRUE(::PostMessageW(page.window, kProbe, 0, 0));
  for (DWORD reason : {0ul, 1ul, 17ul, 0xFFFFFFFFul})
    EXPECT_EQ(DirectXSetupCallback(reason, 0, nullptr, nullptr, nullptr), 1u);
  EXPECT_EQ(probesDispatched, 0);
  EXPECT_EQ(DirectXSetupCallback(18, 0, nullptr, nullptr, nullptr), 1u);
  EXPECT_EQ(probesDispatched, 1);

  ::PostQuitMessage(7);
  PumpMessages();
  PumpMessages();
  MSG msg;
  ASSERT_TRUE(::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, UINT(WM_QUIT));
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_FALSE(::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) << "one quit request, not two";
}

int cancels = 0;
INT_PTR CALLBACK countCancels(HWND, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) return ++cancels, TRUE;
  return message == WM_INITDIALOG;
}

// A key meant for the active modal dialog goes through its keyboard handling first: Escape
// becomes its Cancel command, which a plain dispatch would not produce.
TEST_F(DirectXTest, PumpOffersMessagesToTheModalDialog) {
  alignas(DWORD) WORD dialogTemplate[16] = {};
  auto* header = reinterpret_cast<DLGTEMPLATE*>(dialogTemplate);
  header->style = WS_POPUP;
  header->cx = header->cy = 50;  // no controls, no menu, default class, no title
  HWND dialog = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), header, nullptr,
                                             &countCancels, 0);
  ASSERT_NE(dialog, nullptr);
  cancels = 0;
  ASSERT_TRUE(::PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0));
  PumpMessages();
  EXPECT_EQ(cancels, 0) << "no modal dialog active: dispatched as is";
  {
    ui::modal_scope active(dialog);
    ASSERT_TRUE(::PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0));
    PumpMessages();
  }
  EXPECT_EQ(cancels, 1);
  ::DestroyWindow(dialog);
}

// Status, log line and journal record of a run; English has no caption of its own and shows
// the French one, but its own "OK"/"Failed". During the setup a message posted to the page is
// dispatched, and a quit request posted meanwhile is still queued afterwards.
TEST_F(DirectXTest, StepJournalsAndLogsTheOutcome) {
  struct {
    LanguageId language;
    const wchar_t *build, *result;
    DirectXStepResult outcome;
    const wchar_t* logged;
  } const cases[] = {
      {Languages::French, L"DSetup.dll", L"1", DirectXStepResult::Succeeded, L"OK\r\n"},
      {Languages::English, L"DSetup.dll", L"2", DirectXStepResult::Failed, L"Failed\r\n"},
      {Languages::French, L"DSetup.dll", L"2", DirectXStepResult::Failed, L"\u00c9chec\r\n"},
      {Languages::English, L"DSetup_noentries.dll", L"0", DirectXStepResult::Failed,
       L"Failed\r\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::wstring(c.build) + L" result " + c.result);
    setCurrentLanguage(c.language);
    installLibrary(c.build);
    set(L"RESULT", c.result);
    TestProgress page;
    CInstallJournal journal;
    ASSERT_TRUE(::PostMessageW(page.window, kProbe, 0, 0));
    ::PostQuitMessage(3);
    EXPECT_EQ(RunDirectXStep(journal, page, ExistingInstall::None, folder_), c.outcome);
    const bool setupRan = c.build == std::wstring(L"DSetup.dll");
    EXPECT_EQ(probesDispatched, setupRan ? 1 : 0);
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
    drainQueue();
    EXPECT_EQ(page.statuses, Lines{kCaption});
    EXPECT_EQ(page.log, kCaption + c.logged);
    ASSERT_EQ(journal.records.size(), 1u);
    EXPECT_EQ(journal.records[0].kind, RecordKind::DirectXUpdate);
    EXPECT_EQ(journal.records[0].path, kCaption);
    EXPECT_EQ(journal.records[0].done, c.outcome == DirectXStepResult::Succeeded);
    EXPECT_FALSE(journal.operationOpen);
    if (setupRan) {
      EXPECT_EQ(takeCalls(), runCalls(page.window));
    }
    EXPECT_FALSE(loaded());
  }
}

// A done update in the previous log skips the step unless the same version is reinstalled; a
// failed one is tried again; a refused library skips it always. A skip leaves no trace.
TEST_F(DirectXTest, PreviousLogAndRefusedLibrarySkipTheStep) {
  installLibrary();
  struct {
    ExistingInstall existing;
    bool previousDone;
    const wchar_t* revision;
    bool runs;
  } const cases[] = {{ExistingInstall::OlderVersion, true, L"903", false},
                     {ExistingInstall::OlderVersion, false, L"903", true},
                     {ExistingInstall::None, true, L"903", false},
                     {ExistingInstall::SameVersion, true, L"903", true},
                     {ExistingInstall::SameVersion, false, L"902", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.existing) * 10 + c.previousDone);
    set(L"REVISION", c.revision);
    CInstallJournal journal;
    journal.previousRecords = {{RecordKind::InstalledFile, L"C:\\T\\Tessaline.exe", L"", true, 1},
                               {RecordKind::DirectXUpdate, kCaption, L"", c.previousDone, -1}};
    TestProgress page;
    EXPECT_EQ(RunDirectXStep(journal, page, c.existing, folder_),
              c.runs ? DirectXStepResult::Succeeded : DirectXStepResult::Skipped);
    EXPECT_EQ(journal.records.size(), c.runs ? 1u : 0u);
    EXPECT_EQ(page.log.empty() && page.statuses.empty(), !c.runs);
    EXPECT_EQ(takeCalls().size(), c.runs ? 3u : 1u) << "GetVersion, SetCallback, Setup";
    EXPECT_EQ(journal.previousRecords.size(), 2u);
  }
}

}  // namespace
