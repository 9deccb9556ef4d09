#include "app/install_app.h"
#include "app/install_dlg.h"
#include "localization/languages.h"
#include "app/mode_page.h"
#include "app/path_page.h"
#include "app/shortcut_page.h"
#include "app/start_page.h"

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "machine/folder_rules.h"
#include "nv/product_test_support.h"

#include "dpi_test_support.h"
#include "nv/fatal_error.h"
#include "resources/resource_ids.h"
#include "ui/gdi.h"
#include "wine.h"

namespace {

struct host_window {
  HWND hwnd = ::CreateWindowExW(0, L"Static", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 700, 500, nullptr,
                                nullptr, nullptr, nullptr);
  ~host_window() {
    if (hwnd) ::DestroyWindow(hwnd);
  }
};

// Records every message box instead of showing it; restores the display on destruction.
struct recorded_boxes {
  std::vector<nv::message_box_request> boxes;
  nv::message_box_display previous =
      nv::set_message_box_display([this](const nv::message_box_request& request) {
        boxes.push_back(request);
        return IDOK;
      });
  ~recorded_boxes() { nv::set_message_box_display(std::move(previous)); }
};

COMBOBOXEXITEMW listItem(const ui::window_ref& combo, int index, std::wstring& text) {
  static wchar_t buffer[300];
  COMBOBOXEXITEMW item{};
  item.mask = CBEIF_LPARAM | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_TEXT;
  item.iItem = index;
  item.pszText = buffer;
  item.cchTextMax = 300;
  combo.send(CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  text = buffer;
  return item;
}

int indexOf(LanguageId language) {
  const auto& order = CDlgStart::listedLanguages();
  return static_cast<int>(std::find(order.begin(), order.end(), language) - order.begin());
}

// Selects the list item of `language` (none for -1) the way the user does.
void pickLanguage(CDlgStart& page, LanguageId language) {
  page.languageCombo.send(CB_SETCURSEL, static_cast<WPARAM>(language < 0 ? -1 : indexOf(language)));
  ::SendMessageW(page.hwnd(), WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE_LIST, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(page.languageCombo.hwnd()));
}

void click(CWizardPage& page, int id) {
  ::SendMessageW(page.hwnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(page.item(id)));
}

bool readOnly(HWND edit) { return (::GetWindowLongW(edit, GWL_STYLE) & ES_READONLY) != 0; }
bool enabled(CWizardPage& page, int id) { return ::IsWindowEnabled(page.item(id)) != FALSE; }
bool samePath(const std::wstring& a, const std::wstring& b) {
  return ::lstrcmpiW(a.c_str(), b.c_str()) == 0;
}

LONG width(HWND window) {
  RECT box{};
  ::GetWindowRect(window, &box);
  return box.right - box.left;
}

// The width of the widest language name in the Start page's font.
LONG widestName(CDlgStart& page) {
  HWND combo = reinterpret_cast<HWND>(page.languageCombo.send(CBEM_GETCOMBOCONTROL));
  ui::window_dc dc(combo);
  ui::selected_object font(
      dc.get(), reinterpret_cast<HGDIOBJ>(::SendMessageW(page.hwnd(), WM_GETFONT, 0, 0)));
  LONG widest = 0;
  for (LanguageId language : CDlgStart::listedLanguages()) {
    const std::wstring name = languageDisplayName(language);
    SIZE size{};
    ::GetTextExtentPoint32W(dc.get(), name.c_str(), static_cast<int>(name.size()), &size);
    widest = std::max(widest, size.cx);
  }
  return widest;
}

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

class WizardPagesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_USEREX_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
  }
  void SetUp() override {
    ASSERT_NE(host.hwnd, nullptr);
    setCurrentLanguage(Languages::English);
    currentLanguage().selectedLanguage = Languages::English;
    app.installFolder = L"C:\\Program Files\\Nuvelle\\Tessaline 7";
  }
  void TearDown() override { setCurrentLanguage(Languages::English); }

  CInstallApp app;
  host_window host;
};

// ---- Start page -------------------------------------------------------------------------------

TEST_F(WizardPagesTest, LanguageListHoldsTheProductLanguagesInOrderWithFlagsAndIds) {
  const std::vector<LanguageId> expected = {0, 1, 2,  3,  11, 4,  5,  15, 14,
                                            7, 9, 12, 10, 16, 17, 19, 20};
  CDlgStart page;
  ASSERT_TRUE(page.Create(host.hwnd));
  ASSERT_EQ(page.languageCombo.send(CB_GETCOUNT), 17);
  EXPECT_EQ(::ImageList_GetImageCount(page.flagImages.get()), 17) << "one flag per language";
  EXPECT_EQ(page.languageCombo.send(CBEM_GETIMAGELIST),
            reinterpret_cast<LRESULT>(page.flagImages.get()));
  for (int i = 0; i < 17; ++i) {
    SCOPED_TRACE(i);
    std::wstring text;
    const COMBOBOXEXITEMW item = listItem(page.languageCombo, i, text);
    EXPECT_EQ(item.lParam, expected[static_cast<std::size_t>(i)]);
    EXPECT_EQ(item.iImage, i) << "the flag appended for this item";
    EXPECT_EQ(item.iSelectedImage, i);
    EXPECT_EQ(text, languageDisplayName(expected[static_cast<std::size_t>(i)]));
  }
  EXPECT_EQ(page.languageCombo.send(CB_GETCURSEL), 1) << "English, the current language";

  // The list shows the language that will be recorded, also when the installer speaks another
  // (Dutch from /LANG=nl, shown in English).
  currentLanguage().selectedLanguage = Languages::Dutch;
  CDlgStart dutch;
  ASSERT_TRUE(dutch.Create(host.hwnd));
  EXPECT_EQ(dutch.languageCombo.send(CB_GETCURSEL), indexOf(Languages::Dutch));

  setCurrentLanguage(Languages::Danish);  // not offered: nothing selected
  currentLanguage().selectedLanguage = Languages::Danish;
  CDlgStart other;
  ASSERT_TRUE(other.Create(host.hwnd));
  EXPECT_EQ(other.languageCombo.send(CB_GETCURSEL), CB_ERR);
}

TEST_F(WizardPagesTest, DropDownIsAsWideAsTheWidestNamePlusThirtyPixels) {
  CDlgStart page;
  ASSERT_TRUE(page.Create(host.hwnd));
  HWND combo = reinterpret_cast<HWND>(page.languageCombo.send(CBEM_GETCOMBOCONTROL));
  ASSERT_NE(combo, nullptr);
  const LONG widest = widestName(page);
  ASSERT_GT(widest, 0);
  // The list never drops narrower than the box itself.
  EXPECT_EQ(::SendMessageW(combo, CB_GETDROPPEDWIDTH, 0, 0), std::max(widest + 30, width(combo)));

  if (nv_testing::running_under_wine())
    GTEST_SKIP() << "Wine forgets a dropped width below the box's width instead of keeping it";
  page.fitPage(-140, 0);  // narrowed below the drop-down, the box shows the width set at creation
  ASSERT_LT(width(combo), widest + 30);
  EXPECT_EQ(::SendMessageW(combo, CB_GETDROPPEDWIDTH, 0, 0), widest + 30);
}

// At another display scale the list shows the flags drawn for it, in an image list whose items
// have the scaled size, each item keeping its flag, and the drop-down's margin is scaled too.
TEST_F(WizardPagesTest, FlagsAndDropDownFollowTheDisplayScale) {
  CDlgStart page;
  ASSERT_TRUE(page.Create(host.hwnd));
  HWND combo = reinterpret_cast<HWND>(page.languageCombo.send(CBEM_GETCOMBOCONTROL));
  ASSERT_NE(combo, nullptr);
  const LONG widest = widestName(page);
  std::map<UINT, int> margin = {{96, 30}, {120, 38}, {144, 45}, {168, 53}, {192, 60}};
  for (const nv_testing::scale_sizes& scale : nv_testing::kScaleSizes) {
    SCOPED_TRACE(scale.dpi);
    page.rescale(scale.dpi);
    ASSERT_TRUE(page.flagImages);
    EXPECT_EQ(page.languageCombo.send(CBEM_GETIMAGELIST),
              reinterpret_cast<LRESULT>(page.flagImages.get()));
    int cx = 0, cy = 0;
    ASSERT_TRUE(::ImageList_GetIconSize(page.flagImages.get(), &cx, &cy));
    EXPECT_EQ(cx, scale.flag_item.cx);
    EXPECT_EQ(cy, scale.flag_item.cy);
    EXPECT_EQ(::ImageList_GetImageCount(page.flagImages.get()), 17);
    for (int i = 0; i < 17; ++i) {
      std::wstring text;
      EXPECT_EQ(listItem(page.languageCombo, i, text).iImage, i);
    }
    // The list never drops narrower than the box itself.
    EXPECT_EQ(::SendMessageW(combo, CB_GETDROPPEDWIDTH, 0, 0),
              std::max(widest + margin[scale.dpi], width(combo)));
  }
}

// Inside the installer's frame a language choice reaches the frame and every page.
TEST_F(WizardPagesTest, LanguageChoiceRecordsTheLanguageAndRefreshesTheWholeWizard) {
  CInstallDlg frame;
  ASSERT_TRUE(frame.Create(host.hwnd));
  recorded_boxes boxes;
  pickLanguage(frame.startPage, -1);
  EXPECT_TRUE(boxes.boxes.empty()) << "no selection: nothing happens";
  EXPECT_EQ(currentLanguage().selectedLanguage, Languages::English);

  pickLanguage(frame.startPage, Languages::Polish);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text,
            L"'Tessaline' will be installed in the selected Langage, but the Installer, still "
            L"under translation,  shall run in English.");
  EXPECT_EQ(boxes.boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(currentLanguage().selectedLanguage, Languages::Polish);
  EXPECT_EQ(currentLanguage().language, Languages::English);
  EXPECT_EQ(frame.startPage.languageCombo.send(CB_GETCURSEL), indexOf(Languages::Polish));
  EXPECT_EQ(frame.item_text(IDOK), L"Next  >");

  pickLanguage(frame.startPage, Languages::German);
  EXPECT_EQ(boxes.boxes.size(), 1u) << "the installer speaks German: no message";
  EXPECT_EQ(currentLanguage().language, Languages::German);
  EXPECT_EQ(app.name(), applicationTitle(true));
  EXPECT_EQ(frame.item_text(IDOK), localizedString(1006) + L"  >");
  EXPECT_NE(frame.item_text(IDOK), L"Next  >");
  EXPECT_EQ(frame.startPage.item_text(IDC_STATUS), formatLocalized(1106, {localizedString(1006)}));
  EXPECT_EQ(frame.modePage.item_text(IDC_QUICK_INSTALL), localizedString(1016));
  EXPECT_EQ(frame.folderPage.item_text(IDC_BROWSE), localizedString(1008));
  EXPECT_EQ(frame.shortcutPage.item_text(IDC_DESKTOP_SHORTCUT), localizedString(1113));
  frame.DestroyWindow();
  app.set_main_window(nullptr);
}

TEST_F(WizardPagesTest, StartTextsFollowTheExistingInstallation) {
  struct Case {
    ExistingInstall existing;
    const wchar_t* information;
    const wchar_t* status;
  };
  const Case cases[] = {
      {ExistingInstall::None, L"'Tessaline 7.08v' Installation.", L"Click on 'Next' to continue."},
      {ExistingInstall::SameVersion,
       L"'Tessaline 7.08v' is already installed.\r\nDo you confirm Reinstallation ?",
       L"Click on 'Next' to continue or on 'Cancel' to exit Installation."},
      {ExistingInstall::OlderVersion, L"Update from '7.05' to 'Tessaline 7.08v'.",
       L"Click on 'Next' to continue."},
      {ExistingInstall::NewerVersion,
       L"'Tessaline 7.08v' Installation.\r\nA more recent Version (7.05) is already installed.",
       L"Click on 'Cancel' to exit Installation."}};
  app.previousVersionText = L"7.05";
  CDlgStart page;
  ASSERT_TRUE(page.Create(host.hwnd));
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.existing));
    app.existingInstall = c.existing;
    page.refreshTexts();
    EXPECT_EQ(page.item_text(IDC_INFORMATION), c.information);
    EXPECT_EQ(page.item_text(IDC_STATUS), c.status);
  }
}

// ---- Mode page --------------------------------------------------------------------------------

TEST_F(WizardPagesTest, ModeRadioRoundTrip) {
  CDlgMode page;
  ASSERT_TRUE(page.Create(host.hwnd));
  EXPECT_EQ(page.item_ref(IDC_QUICK_INSTALL).send(BM_GETCHECK), BST_CHECKED) << "quick at first";
  page.item_ref(IDC_QUICK_INSTALL).send(BM_SETCHECK, BST_UNCHECKED);
  page.item_ref(IDC_ADVANCED_INSTALL).send(BM_SETCHECK, BST_CHECKED);
  ASSERT_TRUE(page.UpdateData(true));
  EXPECT_TRUE(app.advancedMode);

  page.item_ref(IDC_ADVANCED_INSTALL).send(BM_SETCHECK, BST_UNCHECKED);
  ASSERT_TRUE(page.UpdateData(false)) << "shown again: loaded from the setting";
  EXPECT_EQ(page.item_ref(IDC_ADVANCED_INSTALL).send(BM_GETCHECK), BST_CHECKED);
  app.advancedMode = false;
  ASSERT_TRUE(page.UpdateData(false));
  EXPECT_EQ(page.item_ref(IDC_QUICK_INSTALL).send(BM_GETCHECK), BST_CHECKED);
  EXPECT_EQ(page.item_ref(IDC_ADVANCED_INSTALL).send(BM_GETCHECK), BST_UNCHECKED);
}

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

// ---- Page growth ------------------------------------------------------------------------------

// Each control's change under fitPage(dx, dy): moved by (x*dx, y*dy), grown by (w*dx, h*dy).
struct change {
  int x, y, w, h;
};

void expectFit(CWizardPage& page, const std::map<int, change>& expected) {
  constexpr int dx = 40, dy = 25;
  std::map<int, RECT> before;
  for (const auto& entry : expected)
    before[entry.first] = page.item_ref(entry.first).rect_in_parent();
  page.fitPage(dx, dy);
  for (const auto& [id, c] : expected) {
    SCOPED_TRACE("control " + std::to_string(id));
    const RECT was = before[id], now = page.item_ref(id).rect_in_parent();
    EXPECT_EQ(now.left, was.left + c.x * dx);
    EXPECT_EQ(now.top, was.top + c.y * dy);
    EXPECT_EQ(now.right - now.left, was.right - was.left + c.w * dx);
    EXPECT_EQ(now.bottom - now.top, was.bottom - was.top + c.h * dy);
  }
}

TEST_F(WizardPagesTest, FitPageMovesAndGrowsTheRightControls) {
  const change keep{0, 0, 0, 0}, wider{0, 0, 1, 0}, right{1, 0, 0, 0}, status{0, 1, 1, 0};
  CDlgStart start;
  CDlgMode mode;
  CDlgPath folder;
  CDlgShortcut shortcut;
  for (CWizardPage* page : std::initializer_list<CWizardPage*>{&start, &mode, &folder, &shortcut})
    ASSERT_TRUE(page->Create(host.hwnd));
  expectFit(start, {{IDC_LANGUAGE_PROMPT, keep},
                    {IDC_LANGUAGE_LIST, wider},
                    {IDC_LEGAL_NOTICE, wider},
                    {IDC_INFORMATION, {0, 0, 1, 1}},
                    {IDC_STATUS, status}});
  expectFit(mode, {{IDC_METHOD_GROUP, wider},
                   {IDC_QUICK_INSTALL, wider},
                   {IDC_ADVANCED_INSTALL, wider},
                   {IDC_STATUS, status}});
  expectFit(folder, {{IDC_FOLDER_GROUP, wider},
                     {IDC_FOLDER_PROMPT, wider},
                     {IDC_FOLDER_EDIT, wider},
                     {IDC_BROWSE, right},
                     {IDC_STATUS, status}});
  expectFit(shortcut, {{IDC_MENU_GROUP, wider},
                       {IDC_MENU_SHORTCUT, wider},
                       {IDC_MENU_FOLDER_EDIT, wider},
                       {IDC_BROWSE, right},
                       {IDC_DESKTOP_SHORTCUT, wider},
                       {IDC_STATUS, status}});
}

}  // namespace
