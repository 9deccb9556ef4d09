// The Folder and Shortcut pages: the installation folder open or locked, its length and place
// rules, the folder browser, and the Start-menu folder and shortcut choices.
#include "app/wizard_pages_fixture.h"

namespace {

using namespace wizard_pages_test;

// The folder browser, driven from a thread timer inside its modal loop: once its edit box shows
// the proposal, presses OK or Cancel.
struct BrowserRobot {
  std::wstring seenText;
  bool pressOk = true;
  bool found = false;
  int ticks = 0;
};
BrowserRobot robot;

BOOL CALLBACK findClass(HWND window, LPARAM data) {
  auto* wanted = reinterpret_cast<std::pair<const wchar_t*, HWND>*>(data);
  wchar_t name[16] = {};
  ::GetClassNameW(window, name, 16);
  if (::lstrcmpiW(name, wanted->first) != 0 || !::IsWindowVisible(window)) return TRUE;
  wanted->second = window;
  return FALSE;
}

void CALLBACK robotTick(HWND, UINT, UINT_PTR, DWORD) {
  std::pair<const wchar_t*, HWND> browser{L"#32770", nullptr}, edit{L"Edit", nullptr};
  ::EnumThreadWindows(::GetCurrentThreadId(), &findClass, reinterpret_cast<LPARAM>(&browser));
  if (!browser.second || robot.found) return;
  ::EnumChildWindows(browser.second, &findClass, reinterpret_cast<LPARAM>(&edit));
  wchar_t text[MAX_PATH] = {};
  if (edit.second) ::GetWindowTextW(edit.second, text, MAX_PATH);
  if (!text[0] && ++robot.ticks < 50) return;  // not filled yet
  robot.found = true;
  robot.seenText = text;
  ::PostMessageW(browser.second, WM_COMMAND, robot.pressOk ? IDOK : IDCANCEL, 0);
}

void clickBrowse(CWizardPage& page, bool pressOk) {
  robot = BrowserRobot{};
  robot.pressOk = pressOk;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, &robotTick);
  click(page, IDC_BROWSE);
  ::KillTimer(nullptr, timer);
}

constexpr const char* kWineBrowserOk =
    "Wine's folder browser answers OK with its tree's selection, not with the proposed folder "
    "in its edit box (no BFFM_VALIDATEFAILEDW)";

// ---- Folder page ------------------------------------------------------------------------------

TEST_F(WizardPagesTest, FolderPageIsOpenForAFreshInstallationAndLockedForAnExistingOne) {
  for (ExistingInstall existing : {ExistingInstall::None, ExistingInstall::SameVersion,
                                   ExistingInstall::OlderVersion, ExistingInstall::NewerVersion}) {
    SCOPED_TRACE(static_cast<int>(existing));
    app.existingInstall = existing;
    const bool open = existing == ExistingInstall::None;
    CDlgPath page;
    ASSERT_TRUE(page.Create(host.hwnd));
    EXPECT_EQ(page.item_text(IDC_FOLDER_EDIT), app.installFolder);
    EXPECT_EQ(readOnly(page.item(IDC_FOLDER_EDIT)), !open);
    EXPECT_EQ(enabled(page, IDC_BROWSE), open);
    EXPECT_EQ(enabled(page, IDC_FOLDER_PROMPT), open);
  }
}

TEST_F(WizardPagesTest, FolderTextIsSavedUpTo260CharactersAndRefusedBeyond) {
  CDlgPath page;
  ASSERT_TRUE(page.Create(host.hwnd));
  EXPECT_EQ(page.item_ref(IDC_FOLDER_EDIT).send(EM_GETLIMITTEXT), 260);
  recorded_boxes boxes;
  const std::wstring longest = L"C:\\" + std::wstring(257, L'a');
  page.set_item_text(IDC_FOLDER_EDIT, longest);
  ASSERT_TRUE(page.UpdateData(true));
  EXPECT_EQ(app.installFolder, longest);

  page.set_item_text(IDC_FOLDER_EDIT, longest + L"b");
  EXPECT_FALSE(page.UpdateData(true)) << "the page refuses to be left";
  EXPECT_EQ(app.installFolder, longest) << "the refused text is not copied into the setting";
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, L"Enter no more than 260 characters.");
}

// The page accepts the folders the uninstaller can remove from, and says why it refuses others.
TEST_F(WizardPagesTest, FolderPageRefusesAFolderNoInstallationMayUseAndStays) {
  wchar_t programFiles[MAX_PATH] = {};
  ASSERT_TRUE(::SHGetSpecialFolderPathW(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE));
  const struct {
    std::wstring text;
    engine::PlaceRefusal refusal;
  } cases[] = {
      {L"C:\\", engine::PlaceRefusal::systemFolder},
      {programFiles, engine::PlaceRefusal::systemFolder},
      {L"Apps\\Tessaline 7", engine::PlaceRefusal::notFullPath},
      {L"C:\\Apps\\..\\Tessaline 7", engine::PlaceRefusal::notFullPath},
      {std::wstring(programFiles) + L"\\Nuvelle\\Tessaline 7", engine::PlaceRefusal::none},
  };
  CDlgPath page;
  ASSERT_TRUE(page.Create(host.hwnd));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    recorded_boxes boxes;
    app.installFolder = L"C:\\Before";
    page.set_item_text(IDC_FOLDER_EDIT, c.text);
    const bool accepted = c.refusal == engine::PlaceRefusal::none;
    EXPECT_EQ(page.UpdateData(true), accepted);
    EXPECT_EQ(app.installFolder, accepted ? c.text : L"C:\\Before");
    ASSERT_EQ(boxes.boxes.size(), accepted ? 0u : 1u);
    if (!accepted) {
      EXPECT_EQ(boxes.boxes[0].text,
                formatLocalized(1194, {engine::describePlaceRefusal(c.refusal, c.text)}));
    }
  }
  // An installed product's folder is shown, not judged.
  app.existingInstall = ExistingInstall::SameVersion;
  recorded_boxes boxes;
  page.set_item_text(IDC_FOLDER_EDIT, L"C:\\");
  EXPECT_TRUE(page.UpdateData(true));
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(WizardPagesTest, FolderBrowseSavesThePageFirstAndTakesThePickedFolderWithTheSubFolder) {
  // A folder that exists and that an installation may use.
  const nv_test::temp_folder folder;
  const std::wstring start = folder.path().wstring();
  CDlgPath page;
  ASSERT_TRUE(page.Create(host.hwnd));
  page.set_item_text(IDC_FOLDER_EDIT, start);
  clickBrowse(page, false);
  ASSERT_TRUE(robot.found);
  EXPECT_TRUE(samePath(app.installFolder, start)) << "saved before browsing, kept on cancel";

  const std::wstring expected = start + L"\\Tessaline 7";
  clickBrowse(page, true);
  ASSERT_TRUE(robot.found);
  EXPECT_TRUE(samePath(robot.seenText, expected)) << robot.seenText;
  if (nv_testing::running_under_wine()) GTEST_SKIP() << kWineBrowserOk;
  EXPECT_TRUE(samePath(app.installFolder, expected)) << app.installFolder;
  EXPECT_EQ(page.item_text(IDC_FOLDER_EDIT), app.installFolder) << "the page is reloaded";
}

// ---- Shortcut page ----------------------------------------------------------------------------

TEST_F(WizardPagesTest, MenuFolderIsShownRelativeToTheStartMenuAndSavedBackUnchanged) {
  CDlgShortcut page;
  ASSERT_TRUE(page.Create(host.hwnd));
  ASSERT_FALSE(page.startMenuRoot.empty());
  const std::wstring root = page.startMenuRoot;
  const std::pair<std::wstring, std::wstring> cases[] = {
      {root + L"\\Programs\\Nuvelle\\Tessaline 7", L"Programs\\Nuvelle\\Tessaline 7"},
      {root, L""},
      {L"Q:\\Menus\\Tessaline 7", L"Q:\\Menus\\Tessaline 7"},  // another volume: shown in full
  };
  for (const auto& [menuFolder, shown] : cases) {
    SCOPED_TRACE(menuFolder);
    app.menuFolder = menuFolder;
    ASSERT_TRUE(page.UpdateData(false));
    EXPECT_EQ(page.item_text(IDC_MENU_FOLDER_EDIT), shown);
    app.menuFolder.clear();
    ASSERT_TRUE(page.UpdateData(true));
    EXPECT_EQ(app.menuFolder, menuFolder);
  }
  // A text that makes the combined path too long keeps the folder rather than emptying it.
  page.set_item_text(IDC_MENU_FOLDER_EDIT, std::wstring(255, L'm'));
  ASSERT_TRUE(page.UpdateData(true));
  EXPECT_EQ(app.menuFolder, L"Q:\\Menus\\Tessaline 7");
}

TEST_F(WizardPagesTest, MenuCheckBoxEnablesTheFolderAndBothBoxesReachTheSettings) {
  app.menuFolder = L"C:\\Menu\\Tessaline 7";
  app.createMenuShortcut = false;
  {
    CDlgShortcut page;
    ASSERT_TRUE(page.Create(host.hwnd));
    EXPECT_FALSE(enabled(page, IDC_MENU_FOLDER_EDIT)) << "decided at creation";
    EXPECT_FALSE(enabled(page, IDC_BROWSE));
  }
  app.createMenuShortcut = true;
  app.createDesktopShortcut = false;
  CDlgShortcut page;
  ASSERT_TRUE(page.Create(host.hwnd));
  EXPECT_TRUE(enabled(page, IDC_MENU_FOLDER_EDIT));
  EXPECT_TRUE(enabled(page, IDC_BROWSE));
  EXPECT_EQ(page.item_ref(IDC_DESKTOP_SHORTCUT).send(BM_GETCHECK), BST_UNCHECKED);

  page.item_ref(IDC_MENU_SHORTCUT).send(BM_SETCHECK, BST_UNCHECKED);
  click(page, IDC_MENU_SHORTCUT);
  EXPECT_FALSE(enabled(page, IDC_MENU_FOLDER_EDIT));
  EXPECT_FALSE(enabled(page, IDC_BROWSE));
  page.item_ref(IDC_DESKTOP_SHORTCUT).send(BM_SETCHECK, BST_CHECKED);
  ASSERT_TRUE(page.UpdateData(true));
  EXPECT_FALSE(app.createMenuShortcut);
  EXPECT_TRUE(app.createDesktopShortcut);
  EXPECT_EQ(app.menuFolder, L"C:\\Menu\\Tessaline 7") << "the folder keeps its value";
}

}  // namespace
