// The folder picker: its path rules as plain functions, and the shell's browser driven by a
// thread timer that reads the proposal from the browser's edit box and closes it.
#include "app/folder_picker.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "wine.h"

namespace {

namespace rules = folder_picker_rules;
namespace fs = std::filesystem;

TEST(FolderPickerRules, TrailingMatchCountsWholeSuffixesOnly) {
  EXPECT_EQ(rules::trailingMatch(L"C:\\Apps\\Tessaline 7", L"Tessaline 7"), 1u);
  EXPECT_EQ(rules::trailingMatch(L"C:\\apps\\TESSALINE 7\\", L"Tessaline 7\\"), 1u);
  EXPECT_EQ(rules::trailingMatch(L"C:\\Program Files\\Nuvelle\\Tessaline 7",
                                 L"Nuvelle\\Tessaline 7"),
            2u);
  EXPECT_EQ(rules::trailingMatch(L"C:\\Program Files\\Other\\Tessaline 7",
                                 L"Nuvelle\\Tessaline 7"),
            0u);
  EXPECT_EQ(rules::trailingMatch(L"C:\\Apps\\Tessaline", L"Tessaline 7"), 0u);
  // A path down to its last component never matches, nor does one that runs out first.
  EXPECT_EQ(rules::trailingMatch(L"Tessaline 7", L"Tessaline 7"), 0u);
  EXPECT_EQ(rules::trailingMatch(L"C:\\Tessaline 7", L"Apps\\Tessaline 7"), 0u);
  EXPECT_EQ(rules::trailingMatch(L"C:\\Tessaline 7", L""), 0u);
}

TEST(FolderPickerRules, AppendSubFolderAddsOnlyTheMissingPart) {
  EXPECT_EQ(rules::appendSubFolder(L"C:\\Apps", L"Tessaline 7"), L"C:\\Apps\\Tessaline 7");
  EXPECT_EQ(rules::appendSubFolder(L"C:\\Apps\\Tessaline 7", L"Tessaline 7"),
            L"C:\\Apps\\Tessaline 7");
  EXPECT_EQ(rules::appendSubFolder(L"C:\\Program Files\\Nuvelle", L"Nuvelle\\Tessaline 7"),
            L"C:\\Program Files\\Nuvelle\\Tessaline 7");
  EXPECT_EQ(rules::appendSubFolder(L"C:\\Program Files", L"Nuvelle\\Tessaline 7"),
            L"C:\\Program Files\\Nuvelle\\Tessaline 7");
  EXPECT_EQ(rules::appendSubFolder(L"C:\\", L"Tessaline 7"), L"C:\\Tessaline 7");
  EXPECT_EQ(rules::appendSubFolder(L"C:\\Apps", L""), L"C:\\Apps");
  // A result beyond 259 characters leaves the selection as it was.
  const std::wstring deep = L"C:\\" + std::wstring(250, L'x');
  EXPECT_EQ(rules::appendSubFolder(deep, L"Tessaline 7"), deep);
}

TEST(FolderPickerRules, ChosenFolderDropsTheSubFolderAndSanitizingRejectsWildcards) {
  EXPECT_EQ(rules::chosenFolder(L"C:\\Apps\\Tessaline 7", L"Tessaline 7"), L"C:\\Apps");
  EXPECT_EQ(rules::chosenFolder(L"C:\\X\\Nuvelle\\Tessaline 7", L"Nuvelle\\Tessaline 7"),
            L"C:\\X");
  EXPECT_EQ(rules::chosenFolder(L"C:\\Apps\\Other", L"Tessaline 7"), L"C:\\Apps\\Other");
  EXPECT_EQ(rules::chosenFolder(L"C:\\Apps", L""), L"C:\\Apps");

  EXPECT_EQ(rules::sanitizeSubFolder(L"Tessaline 7"), L"Tessaline 7");
  EXPECT_EQ(rules::sanitizeSubFolder(L"Tessaline 7..."), L"Tessaline 7");
  EXPECT_EQ(rules::sanitizeSubFolder(L"Tess*"), L"");
  EXPECT_EQ(rules::sanitizeSubFolder(L"Tess?line"), L"");
  EXPECT_EQ(rules::sanitizeSubFolder(L"a|b"), L"");
}

TEST(FolderPickerRules, RelativePathsBelowTheBaseFolder) {
  const std::wstring base = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu";
  EXPECT_EQ(rules::relativeTo(base, base + L"\\Programs\\Nuvelle\\Tessaline 7"),
            L"Programs\\Nuvelle\\Tessaline 7");
  EXPECT_EQ(rules::relativeTo(base, base), L"");
  EXPECT_EQ(rules::relativeTo(base, L"C:\\ProgramData\\Other"), L"..\\..\\..\\Other");
  EXPECT_FALSE(rules::relativeTo(base, L"Q:\\Elsewhere").has_value());
}

// A scratch folder tree under the temporary folder, removed afterwards.
class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
    root_ = fs::path(temp) / (L"nv_picker_" + std::to_wstring(::GetCurrentProcessId()));
    fs::create_directories(root_ / L"Start Menu" / L"Programs");
    fs::create_directories(root_ / L"Apps");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::wstring path(const wchar_t* relative) const { return (root_ / relative).wstring(); }

  fs::path root_;
};

using TypedPath = ScratchFolder;

TEST_F(TypedPath, RelativeTextIsTakenBelowTheBaseFolder) {
  const std::wstring base = path(L"Start Menu");
  std::error_code error;
  EXPECT_EQ(rules::qualifyTypedPath(L"Programs\\Tools", base, error),
            base + L"\\Programs\\Tools");
  EXPECT_FALSE(error);
  EXPECT_EQ(rules::qualifyTypedPath(L"  Programs\\Tools\\  ", base, error),
            base + L"\\Programs\\Tools");
  EXPECT_FALSE(error);

  // The current directory is restored after qualifying.
  wchar_t current[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, current);
  EXPECT_NE(::lstrcmpiW(current, base.c_str()), 0);
}

TEST_F(TypedPath, RejectsOutsideTheBaseWildcardsAndOverlongText) {
  const std::wstring base = path(L"Start Menu");
  std::error_code error;
  EXPECT_TRUE(rules::qualifyTypedPath(L"Q:\\Elsewhere", base, error).empty());
  EXPECT_EQ(error.value(), ERROR_BAD_PATHNAME);
  EXPECT_TRUE(rules::qualifyTypedPath(L"Programs\\a*b", base, error).empty());
  EXPECT_EQ(error.value(), ERROR_BAD_PATHNAME);
  EXPECT_TRUE(rules::qualifyTypedPath(L"..\\Apps", base, error).empty());
  EXPECT_EQ(error.value(), ERROR_BAD_PATHNAME);
  EXPECT_TRUE(rules::qualifyTypedPath(std::wstring(260, L'a'), base, error).empty());
  EXPECT_EQ(static_cast<unsigned>(error.value()), 0x800700CEu);
  // A base folder that cannot be made current reports the system's error.
  EXPECT_TRUE(rules::qualifyTypedPath(L"x", path(L"Missing"), error).empty());
  EXPECT_TRUE(error.value() == ERROR_FILE_NOT_FOUND || error.value() == ERROR_PATH_NOT_FOUND)
      << error.value();
}

TEST_F(TypedPath, WithoutBaseDrivesAndEmptyTextAreCompleted) {
  std::error_code error;
  EXPECT_EQ(rules::qualifyTypedPath(L"C:", L"", error), L"C:\\");
  EXPECT_FALSE(error);
  EXPECT_EQ(rules::qualifyTypedPath(L"C:\\Apps\\New\\", L"", error), L"C:\\Apps\\New");
  wchar_t current[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, current);
  std::wstring expected = current;
  if (expected.size() > 3 && expected.back() == L'\\') expected.pop_back();
  EXPECT_EQ(rules::qualifyTypedPath(L"   ", L"", error), expected);
  EXPECT_FALSE(error);
}

// A thread already in the multi-threaded apartment cannot enter the picker's single-threaded one:
// the picker reports the failure and returns no path without showing the browser.
TEST(FolderPickerCom, FailedInitialisationIsReportedAndGivesNoPath) {
  struct MultiThreaded {
    HRESULT result = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ~MultiThreaded() {
      if (SUCCEEDED(result)) ::CoUninitialize();
    }
  };
  std::error_code reported;
  int reports = 0;
  FolderPicker::ErrorDisplay previous =
      FolderPicker::setErrorDisplay([&](HWND, const std::error_code& error) {
        reported = error;
        ++reports;
      });
  std::wstring start = L"C:\\Apps";
  std::wstring result = L"unchanged";
  std::thread worker([&] {
    MultiThreaded apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.result));
    result = browseForFolder(start, L"Tessaline 7", L"Choose");
  });
  worker.join();
  FolderPicker::setErrorDisplay(std::move(previous));
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(static_cast<HRESULT>(reported.value()), RPC_E_CHANGED_MODE);
  EXPECT_TRUE(result.empty());
  EXPECT_EQ(start, L"C:\\Apps");
}

// ---------------------------------------------------------------------------------------------
// The browser, driven from a thread timer inside its modal loop.

struct BrowserRobot {
  std::wstring seenText;     // the edit box's text when the browser was found
  std::wstring typeText;     // typed into the edit box before OK, when not empty
  bool pressOk = true;
  bool found = false;
  int ticks = 0;
};
BrowserRobot robot;

BOOL CALLBACK findBrowser(HWND window, LPARAM data) {
  wchar_t name[16] = {};
  ::GetClassNameW(window, name, 16);
  if (::IsWindowVisible(window) && ::lstrcmpW(name, L"#32770") == 0) {
    *reinterpret_cast<HWND*>(data) = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK findEdit(HWND window, LPARAM data) {
  wchar_t name[16] = {};
  ::GetClassNameW(window, name, 16);
  if (::lstrcmpiW(name, L"Edit") == 0) {
    *reinterpret_cast<HWND*>(data) = window;
    return FALSE;
  }
  return TRUE;
}

void CALLBACK robotTick(HWND, UINT, UINT_PTR, DWORD) {
  ++robot.ticks;
  HWND browser = nullptr;
  ::EnumThreadWindows(::GetCurrentThreadId(), &findBrowser, reinterpret_cast<LPARAM>(&browser));
  if (!browser || robot.found) {
    if (robot.ticks > 100 && browser) ::PostMessageW(browser, WM_COMMAND, IDCANCEL, 0);
    return;
  }
  HWND edit = nullptr;
  ::EnumChildWindows(browser, &findEdit, reinterpret_cast<LPARAM>(&edit));
  if (!edit) {
    if (robot.ticks > 50) ::PostMessageW(browser, WM_COMMAND, IDCANCEL, 0);
    return;
  }
  wchar_t text[MAX_PATH] = {};
  ::GetWindowTextW(edit, text, MAX_PATH);
  if (!text[0] && robot.ticks < 50) return;  // not filled yet
  robot.found = true;
  robot.seenText = text;
  if (!robot.typeText.empty()) ::SetWindowTextW(edit, robot.typeText.c_str());
  ::PostMessageW(browser, WM_COMMAND, robot.pressOk ? IDOK : IDCANCEL, 0);
}

// Runs `browse` with the robot's timer alive.
template <class Browse>
void driven(Browse browse) {
  robot.found = false;
  robot.ticks = 0;
  robot.seenText.clear();
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, &robotTick);
  browse();
  ::KillTimer(nullptr, timer);
}

using Browser = ScratchFolder;

constexpr const char* kWineTypedPath =
    "Wine's folder browser sends no BFFM_VALIDATEFAILEDW for a typed folder (OK returns the "
    "tree's selection) and its BFFM_SETSELECTIONW does not reach folders below the temporary "
    "folder";

TEST_F(Browser, ProposesTheSubFolderAndAcceptsItThoughItDoesNotExist) {
  if (nv_testing::running_under_wine()) GTEST_SKIP() << kWineTypedPath;
  robot.typeText.clear();
  robot.pressOk = true;
  std::wstring start = path(L"Apps");
  std::wstring result;
  driven([&] { result = browseForFolder(start, L"Tessaline 7", L"Choose"); });
  ASSERT_TRUE(robot.found);
  EXPECT_EQ(::lstrcmpiW(robot.seenText.c_str(), path(L"Apps\\Tessaline 7").c_str()), 0)
      << robot.seenText;
  EXPECT_EQ(::lstrcmpiW(result.c_str(), path(L"Apps\\Tessaline 7").c_str()), 0) << result;
  EXPECT_EQ(::lstrcmpiW(start.c_str(), path(L"Apps").c_str()), 0) << start;
}

// The nearest existing parent is the Windows folder, which every browser can select.
TEST(BrowserStart, MissingStartFolderOpensOnItsNearestParentAndCancelKeepsIt) {
  wchar_t windows[MAX_PATH] = {};
  ASSERT_NE(::GetWindowsDirectoryW(windows, MAX_PATH), 0u);
  robot.typeText.clear();
  robot.pressOk = false;
  const std::wstring missing = std::wstring(windows) + L"\\nv_gone_folder\\Deeper";
  std::wstring start = missing;
  std::wstring result = L"unchanged";
  driven([&] { result = browseForFolder(start, L"Tessaline 7", L"Choose"); });
  ASSERT_TRUE(robot.found);
  EXPECT_EQ(::lstrcmpiW(robot.seenText.c_str(), (std::wstring(windows) + L"\\Tessaline 7").c_str()),
            0)
      << robot.seenText;
  EXPECT_TRUE(result.empty());
  EXPECT_EQ(start, missing);
}

TEST_F(Browser, TypedFolderBelowTheProgramsMenuIsAcceptedRelativeToTheStartMenu) {
  if (nv_testing::running_under_wine()) GTEST_SKIP() << kWineTypedPath;
  wchar_t programs[MAX_PATH] = {};
  ASSERT_TRUE(::SHGetSpecialFolderPathW(nullptr, programs, CSIDL_COMMON_PROGRAMS, TRUE));
  const std::wstring startMenu = fs::path(programs).parent_path().wstring();
  const std::wstring programsName = fs::path(programs).filename().wstring();

  robot.typeText = programsName + L"\\Tools";
  robot.pressOk = true;
  std::wstring start = std::wstring(programs) + L"\\Nuvelle\\Tessaline 7";
  std::wstring relative;
  std::wstring result;
  driven([&] { result = browseForMenuFolder(start, L"Tessaline 7", L"Menu", &relative); });
  robot.typeText.clear();
  ASSERT_TRUE(robot.found);
  EXPECT_EQ(::lstrcmpiW(robot.seenText.c_str(), (programsName + L"\\Tessaline 7").c_str()), 0)
      << robot.seenText;
  EXPECT_EQ(::lstrcmpiW(result.c_str(), (startMenu + L"\\" + programsName + L"\\Tools").c_str()),
            0)
      << result;
  EXPECT_EQ(::lstrcmpiW(relative.c_str(), (programsName + L"\\Tools").c_str()), 0) << relative;
}

}  // namespace
