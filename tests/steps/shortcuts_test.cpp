#include "steps/shortcuts.h"

#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "localization/languages.h"
#include "nv/com_ptr.h"

namespace {

namespace fs = std::filesystem;
using engine::JournalRecord;
using K = engine::RecordKind;

// A private folder for one test, removed with everything in it afterwards.
class ShortcutFolder {
 public:
  ShortcutFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    static int counter = 0;
    root_ = fs::path(temp) / (L"shortcut_test_" + std::to_wstring(::GetCurrentProcessId()) +
                              L"_" + std::to_wstring(counter++));
    fs::remove_all(root_);
  }
  ~ShortcutFolder() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::wstring path(const std::wstring& relative) const { return (root_ / relative).wstring(); }
  std::wstring folder(const std::wstring& relative) const {
    fs::create_directories(root_ / relative);
    return path(relative);
  }
  // A small file at `relative`, with its folders.
  std::wstring file(const std::wstring& relative) const {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative) << "exe";
    return path(relative);
  }

 private:
  fs::path root_;
};

// Target and working directory of a saved link, read back through the shell link object.
std::pair<std::wstring, std::wstring> ReadLink(const std::wstring& link) {
  nv::com_apartment apartment;
  nv::com_ptr<IShellLinkW> shellLink;
  nv::com_ptr<IPersistFile> file;
  wchar_t target[MAX_PATH] = {}, directory[MAX_PATH] = {};
  if (apartment.entered() &&
      SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IShellLinkW, shellLink.put_void())) &&
      SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, file.put_void())) &&
      SUCCEEDED(file->Load(link.c_str(), STGM_READ))) {
    shellLink->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
    shellLink->GetWorkingDirectory(directory, MAX_PATH);
  }
  return {target, directory};
}

// Wine spells the users folder in lower case: paths are compared ignoring case.
bool SameText(const std::wstring& a, const std::wstring& b) {
  return ::lstrcmpiW(a.c_str(), b.c_str()) == 0;
}
void ExpectLink(const std::wstring& link, const std::wstring& target, const std::wstring& folder) {
  const auto [readTarget, readFolder] = ReadLink(link);
  EXPECT_PRED2(SameText, readTarget, target) << link;
  EXPECT_PRED2(SameText, readFolder, folder) << link;
}

TEST(CreateShortcut, NamedOrStemLinksWithTargetAndWorkingDirectory) {
  ShortcutFolder scratch;
  const std::wstring target = scratch.file(L"Apps\\Tessaline 7\\Tessaline.exe");
  const std::wstring menu = scratch.folder(L"Menu");
  std::wstring link;
  ASSERT_TRUE(engine::CreateShortcut(target, menu, nullptr, &link));
  EXPECT_EQ(link, menu + L"\\Tessaline.lnk");
  ExpectLink(link, target, scratch.path(L"Apps\\Tessaline 7"));

  std::ofstream(fs::path(menu) / L"Uninstall Tessaline.lnk") << "not a link";  // overwritten
  ASSERT_TRUE(engine::CreateShortcut(target, menu, L"Uninstall Tessaline", &link));
  EXPECT_EQ(link, menu + L"\\Uninstall Tessaline.lnk");
  ExpectLink(link, target, scratch.path(L"Apps\\Tessaline 7"));
}

TEST(CreateShortcut, RefusalsWriteNothingAndLeaveTheOutputAlone) {
  ShortcutFolder scratch;
  const std::wstring target = scratch.file(L"Apps\\Tessaline.exe");
  const std::wstring menu = scratch.folder(L"Menu");
  std::wstring link = L"untouched";
  EXPECT_FALSE(engine::CreateShortcut(L"Tessaline.exe", menu, nullptr, &link));  // no folder
  EXPECT_FALSE(engine::CreateShortcut(L"C:\\", menu, L"Root", &link));
  EXPECT_FALSE(engine::CreateShortcut(target, menu, L"", &link));  // would be "Menu.lnk"
  EXPECT_FALSE(engine::CreateShortcut(target, L"Relative", L"Name", &link));
  EXPECT_FALSE(engine::CreateShortcut(target, scratch.path(L"Missing"), L"Name", &link));
  EXPECT_EQ(link, L"untouched");
  EXPECT_TRUE(fs::is_empty(menu));
  EXPECT_FALSE(fs::exists(scratch.path(L"Menu.lnk")));
}

TEST(CreateShortcut, LeavesTheThreadsApartmentAsItFoundIt) {
  ShortcutFolder scratch;
  const std::wstring target = scratch.file(L"Apps\\Tessaline.exe");
  const std::wstring menu = scratch.folder(L"Menu");
  bool created = false;
  HRESULT afterwards = E_FAIL;
  // Without COM before: the thread can enter the multi-threaded apartment afterwards, which it
  // could not had the single-threaded one been left entered.
  std::thread([&] {
    created = engine::CreateShortcut(target, menu, L"Fresh", nullptr);
    afterwards = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(afterwards)) ::CoUninitialize();
  }).join();
  EXPECT_TRUE(created);
  EXPECT_EQ(afterwards, S_OK);
  // Already multi-threaded: CoInitialize is refused, no link, and the apartment is unchanged.
  std::thread([&] {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return;
    created = engine::CreateShortcut(target, menu, L"Refused", nullptr);
    afterwards = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(afterwards)) ::CoUninitialize();
    ::CoUninitialize();
  }).join();
  EXPECT_FALSE(created);
  EXPECT_EQ(afterwards, S_FALSE);
  EXPECT_FALSE(fs::exists(fs::path(menu) / L"Refused.lnk"));
}

// Records what the step shows and which desktop folders it asks for (private folders; empty =
// cannot be obtained), so that no test touches the real desktop.
class ShortcutStep : public ::testing::Test, public engine::InstallProgress {
 protected:
  void SetUp() override { setCurrentLanguage(Languages::English); }
  void TearDown() override { setCurrentLanguage(Languages::French); }
  void setStatus(const std::wstring& text) override { status = text; }
  void appendLog(const std::wstring& text, bool banner) override { log += banner ? L"#" : text; }
  HWND ownerWindow() const override { return reinterpret_cast<HWND>(0x1234); }

  bool Run(bool menu, bool desktop) {
    auto lookup = [this](HWND owner, int csidl) {
      asked.push_back(csidl);
      EXPECT_EQ(owner, ownerWindow());
      return csidl == CSIDL_COMMON_DESKTOPDIRECTORY ? commonDesktop
             : csidl == CSIDL_DESKTOPDIRECTORY     ? userDesktop
                                                   : std::wstring();
    };
    return engine::CreateShortcuts(journal, *this, {menu, desktop, menuFolder}, program,
                                   uninstaller, lookup);
  }
  std::vector<K> Kinds() const {
    std::vector<K> kinds;
    for (const JournalRecord& record : journal.records) kinds.push_back(record.kind);
    return kinds;
  }

  ShortcutFolder scratch;
  std::wstring program = scratch.file(L"Apps\\Tessaline 7\\Tessaline.exe");
  std::wstring uninstaller = scratch.file(L"Apps\\Tessaline 7\\Uninstall.exe");
  std::wstring programFolder = scratch.path(L"Apps\\Tessaline 7");
  std::wstring menuFolder = scratch.path(L"Start\\Programs\\Tessaline 7");
  std::wstring commonDesktop, userDesktop, status, log;
  std::vector<int> asked;
  engine::CInstallJournal journal;
};

TEST_F(ShortcutStep, BothCreateMissingMenuFoldersThenThreeShortcutsInOrder) {
  commonDesktop = scratch.folder(L"CommonDesktop");
  userDesktop = scratch.folder(L"UserDesktop");
  EXPECT_TRUE(Run(true, true));
  ASSERT_EQ(Kinds(), (std::vector<K>{K::CreatedFolder, K::CreatedFolder, K::CreatedFolder,
                                     K::MenuShortcut, K::UninstallShortcut, K::DesktopShortcut}));
  EXPECT_EQ(journal.records[0].path, scratch.path(L"Start"));
  EXPECT_EQ(journal.records[2].path, menuFolder);
  const std::wstring menuLink = menuFolder + L"\\Tessaline 7.08v.lnk";
  const std::wstring uninstallLink = menuFolder + L"\\Uninstall Tessaline.lnk";
  const std::wstring desktopLink = commonDesktop + L"\\Tessaline 7.08v.lnk";
  EXPECT_EQ(journal.records[3].path, menuLink);
  EXPECT_EQ(journal.records[4].path, uninstallLink);
  EXPECT_EQ(journal.records[5].path, desktopLink);
  for (std::size_t i = 3; i < 6; ++i) EXPECT_TRUE(journal.records[i].done);
  EXPECT_FALSE(journal.operationOpen);
  ExpectLink(menuLink, program, programFolder);
  ExpectLink(uninstallLink, uninstaller, programFolder);
  ExpectLink(desktopLink, program, programFolder);
  EXPECT_TRUE(fs::is_empty(userDesktop));
  EXPECT_EQ(status, L"Shortcuts Creation...");
  EXPECT_EQ(log, L"Shortcuts Creation...OK\r\n");
}

TEST_F(ShortcutStep, DesktopOnlyFallsBackToTheUsersDesktopAndLeavesTheMenuAlone) {
  userDesktop = scratch.folder(L"UserDesktop");
  EXPECT_TRUE(Run(false, true));
  EXPECT_EQ(asked, (std::vector<int>{CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY}));
  ASSERT_EQ(Kinds(), std::vector<K>{K::DesktopShortcut});
  EXPECT_EQ(journal.records[0].path, userDesktop + L"\\Tessaline 7.08v.lnk");
  ExpectLink(journal.records[0].path, program, programFolder);
  EXPECT_FALSE(fs::exists(scratch.path(L"Start")));
  EXPECT_EQ(log, L"Shortcuts Creation...OK\r\n");
}

TEST_F(ShortcutStep, NoDesktopFolderFailsWithoutARecordButKeepsTheMenuShortcuts) {
  EXPECT_FALSE(Run(true, true));
  ASSERT_EQ(Kinds().size(), 5u);
  EXPECT_EQ(Kinds().back(), K::UninstallShortcut);
  EXPECT_TRUE(journal.records.back().done);
  EXPECT_EQ(log, L"Shortcuts Creation...Failed\r\n");
}

TEST_F(ShortcutStep, ALinkThatCannotBeWrittenIsRecordedUndoneWithoutPath) {
  menuFolder = scratch.file(L"Blocked");  // a file where the folder should be
  EXPECT_FALSE(Run(true, false));
  ASSERT_EQ(Kinds(), (std::vector<K>{K::MenuShortcut, K::UninstallShortcut}));
  for (const JournalRecord& record : journal.records) {
    EXPECT_FALSE(record.done);
    EXPECT_TRUE(record.path.empty());
  }
  EXPECT_EQ(log, L"Shortcuts Creation...Failed\r\n");
}

TEST_F(ShortcutStep, NothingChosenDoesNothingAndTextsFollowTheLanguage) {
  EXPECT_TRUE(Run(false, false));
  EXPECT_TRUE(journal.records.empty() && log.empty() && status.empty() && asked.empty());

  setCurrentLanguage(Languages::French);
  EXPECT_TRUE(Run(true, false));
  ASSERT_FALSE(journal.records.empty());
  EXPECT_EQ(journal.records.back().path, menuFolder + L"\\D\u00e9sinstaller Tessaline.lnk");
  EXPECT_EQ(log, L"Cr\u00e9ation des raccourcis...OK\r\n");
}

}  // namespace
