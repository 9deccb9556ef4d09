#include "app/install_app.h"
#include "app/install_dlg.h"
#include "app/languages.h"
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

#include "nv/fatal_error.h"
#include "resources/resource_ids.h"
#include "ui/gdi.h"
#include "wine.h"

namespace {

// A top-level window the pages live in, destroyed with the fixture.
struct host_window {
  HWND hwnd = ::CreateWindowExW(0, L"Static", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 700, 500,
                                nullptr, nullptr, nullptr, nullptr);
  ~host_window() {
    if (hwnd) ::DestroyWindow(hwnd);
  }
};

// Records every message box instead of showing it; restores the display on destruction.
struct recorded_boxes {
  std::vector<nv::message_box_request> boxes;
  nv::message_box_display previous = nv::set_message_box_display(
      [this](const nv::message_box_request& request) {
        boxes.push_back(request);
        return IDOK;
      });
  ~recorded_boxes() { nv::set_message_box_display(std::move(previous)); }
};

LanguageId itemLanguage(const ui::window_ref& combo, int index) {
  COMBOBOXEXITEMW item{};
  item.mask = CBEIF_LPARAM | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE;
  item.iItem = index;
  combo.send(CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  return static_cast<LanguageId>(item.lParam);
}

COMBOBOXEXITEMW itemImages(const ui::window_ref& combo, int index, std::wstring* text = nullptr) {
  static wchar_t buffer[300];
  COMBOBOXEXITEMW item{};
  item.mask = CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_TEXT;
  item.iItem = index;
  item.pszText = buffer;
  item.cchTextMax = 300;
  combo.send(CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  if (text) *text = buffer;
  return item;
}

// Selects list item `index` the way the user does: selection, then the notification.
void pickLanguage(CDlgStart& page, int index) {
  page.languageCombo.send(CB_SETCURSEL, static_cast<WPARAM>(index));
  ::SendMessageW(page.hwnd(), WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE_LIST, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(page.languageCombo.hwnd()));
}

int indexOf(LanguageId language) {
  const auto& order = CDlgStart::listedLanguages();
  for (std::size_t i = 0; i < order.size(); ++i)
    if (order[i] == language) return static_cast<int>(i);
  return -1;
}

bool readOnly(HWND edit) { return (::GetWindowLongW(edit, GWL_STYLE) & ES_READONLY) != 0; }

// Control rectangles before and after fitPage(dx, dy), compared with the expected change.
struct change {
  int move_x, move_y, grow_x, grow_y;
};
void expectFit(CWizardPage& page, const std::map<int, change>& expected) {
  constexpr int dx = 40, dy = 25;
  std::map<int, RECT> before;
  for (const auto& [id, unused] : expected) before[id] = page.item_ref(id).rect_in_parent();
  page.fitPage(dx, dy);
  for (const auto& [id, c] : expected) {
    const RECT was = before[id];
    const RECT now = page.item_ref(id).rect_in_parent();
    SCOPED_TRACE("control " + std::to_string(id));
    EXPECT_EQ(now.left, was.left + c.move_x * dx);
    EXPECT_EQ(now.top, was.top + c.move_y * dy);
    EXPECT_EQ(now.right - now.left, was.right - was.left + c.grow_x * dx);
    EXPECT_EQ(now.bottom - now.top, was.bottom - was.top + c.grow_y * dy);
  }
}

// The folder browser, driven from a thread timer inside its modal loop: reads the proposal from
// its edit box, then presses OK or Cancel.
struct BrowserRobot {
  std::wstring seenText;
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
  wchar_t text[MAX_PATH] = {};
  if (edit) ::GetWindowTextW(edit, text, MAX_PATH);
  if (!text[0] && robot.ticks < 50) return;  // not filled yet
  robot.found = true;
  robot.seenText = text;
  ::PostMessageW(browser, WM_COMMAND, robot.pressOk ? IDOK : IDCANCEL, 0);
}

constexpr const char* kWineBrowserOk =
    "Wine's folder browser answers OK with its tree's selection, not with the proposed folder "
    "in its edit box (no BFFM_VALIDATEFAILEDW), and does not select the start folder below the "
    "Programs menu";

// Clicks Browse on `page` with the robot pressing OK or Cancel in the browser.
void clickBrowse(CWizardPage& page, bool pressOk) {
  robot = BrowserRobot{};
  robot.pressOk = pressOk;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, &robotTick);
  ::SendMessageW(page.hwnd(), WM_COMMAND, MAKEWPARAM(IDC_BROWSE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(page.item(IDC_BROWSE)));
  ::KillTimer(nullptr, timer);
}

bool samePath(const std::wstring& a, const std::wstring& b) { return ::lstrcmpiW(a.c_str(), b.c_str()) == 0; }

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
  const std::vector<LanguageId> expected = {0, 1, 2, 3, 11, 4, 5, 15, 14, 7, 9, 12, 10, 16, 17, 19, 20};
  EXPECT_EQ(CDlgStart::listedLanguages(), expected);

  CDlgStart page;
  ASSERT_TRUE(page.Create(host.hwnd));
  ASSERT_EQ(page.languageCombo.send(CB_GETCOUNT), 17);
  ASSERT_TRUE(page.flagImages);
  EXPECT_EQ(::ImageList_GetImageCount(page.flagImages.get()), 17) << "one flag per language";
  int iconWidth = 0, iconHeight = 0;
  ::ImageList_GetIconSize(page.flagImages.get(), &iconWidth, &iconHeight);
  EXPECT_EQ(iconWidth, 18);
  EXPECT_EQ(iconHeight, 12);
  EXPECT_EQ(page.languageCombo.send(CBEM_GETIMAGELIST),
            reinterpret_cast<LRESULT>(page.flagImages.get()));

  for (int i = 0; i < 17; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(itemLanguage(page.languageCombo, i), expected[static_cast<std::size_t>(i)]);
    std::wstring text;
    const COMBOBOXEXITEMW item = itemImages(page.languageCombo, i, &text);
    EXPECT_EQ(item.iImage, i) << "the flag appended for this item";
    EXPECT_EQ(item.iSelectedImage, i);
    EXPECT_EQ(text, languageDisplayName(expected[static_cast<std::size_t>(i)]));
  }
  EXPECT_EQ(page.languageCombo.send(CB_GETCURSEL), 1) << "English, the current language";
}

// The widest native name in the page's font, measured on `combo`.
LONG widestName(CDlgStart& page, HWND combo) {
  LONG widest = 0;
  ui::window_dc dc(combo);
  ui::selected_object font(dc.get(),
                           reinterpret_cast<HGDIOBJ>(::SendMessageW(page.hwnd(), WM_GETFONT, 0, 0)));
  for (LanguageId language : CDlgStart::listedLanguages()) {
    const std::wstring name = languageDisplayName(language);
    SIZE size{};
    ::GetTextExtentPoint32W(dc.get(), name.c_str(), static_cast<int>(name.size()), &size);
    widest = std::max(widest, size.cx);
  }
  return widest;
}

LONG width(HWND window) {
  RECT box{};
  ::GetWindowRect(window, &box);
  return box.right - box.left;
}

TEST_F(WizardPagesTest, DropDownIsAsWideAsTheWidestNamePlusThirtyPixels) {
  CDlgStart page;
  ASSERT_TRUE(page.Create(host.hwnd));
  HWND combo = reinterpret_cast<HWND>(page.languageCombo.send(CBEM_GETCOMBOCONTROL));
  ASSERT_NE(combo, nullptr);
  const LONG wanted = widestName(page, combo) + 30;
  EXPECT_GT(wanted, 30);
  // The list never drops narrower than the box itself.
  EXPECT_EQ(::SendMessageW(combo, CB_GETDROPPEDWIDTH, 0, 0), std::max(wanted, width(combo)));

  if (nv_testing::running_under_wine())
    GTEST_SKIP() << "Wine forgets a dropped width below the box's width instead of keeping it";
  // Narrowed below the drop-down, the box shows the width set at creation.
  page.fitPage(-140, 0);
  ASSERT_LT(width(combo), wanted);
  EXPECT_EQ(::SendMessageW(combo, CB_GETDROPPEDWIDTH, 0, 0), wanted);
}

TEST_F(WizardPagesTest, NoItemIsSelectedForALanguageOutsideTheList) {
  setCurrentLanguage(Languages::Danish);
  CDlgStart page;
  ASSERT_TRUE(page.Create(host.hwnd));
  EXPECT_EQ(page.languageCombo.send(CB_GETCURSEL), CB_ERR);
}

TEST_F(WizardPagesTest, PolishIsRecordedButTheInstallerStaysEnglishThenGermanSwitchesSilently) {
  CDlgStart page;
  ASSERT_TRUE(page.Create(host.hwnd));
  recorded_boxes boxes;

  pickLanguage(page, indexOf(Languages::Polish));
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text,
            L"'Tessaline' will be installed in the selected Langage, but the Installer, still "
            L"under translation,  shall run in English.");
  EXPECT_EQ(boxes.boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONINFORMATION));
  EXPECT_EQ(boxes.boxes[0].type & MB_TYPEMASK, static_cast<UINT>(MB_OK));
  EXPECT_EQ(currentLanguage().selectedLanguage, Languages::Polish);
  EXPECT_EQ(currentLanguage().language, Languages::English);
  EXPECT_EQ(page.languageCombo.send(CB_GETCURSEL), indexOf(Languages::Polish)) << "stays selected";
  EXPECT_EQ(page.item_text(IDC_STATUS), L"Click on 'Next' to continue.");
  EXPECT_EQ(app.name(), applicationTitle(true));

  pickLanguage(page, indexOf(Languages::German));
  EXPECT_EQ(boxes.boxes.size(), 1u) << "German is spoken by the installer: no message";
  EXPECT_EQ(currentLanguage().selectedLanguage, Languages::German);
  EXPECT_EQ(currentLanguage().language, Languages::German);
  EXPECT_EQ(page.item_text(IDC_STATUS), formatLocalized(1106, {localizedString(1006)}));
  EXPECT_NE(page.item_text(IDC_STATUS), L"Click on 'Next' to continue.") << "German text";
  EXPECT_EQ(page.item_text(IDC_LANGUAGE_PROMPT), localizedString(1014));
  EXPECT_EQ(app.name(), applicationTitle(true));
}

// Inside the installer's frame a language choice reaches every page and the frame's buttons.
TEST_F(WizardPagesTest, LanguageChoiceInTheWizardRefreshesTheFrameAndEveryPage) {
  CInstallDlg frame;
  ASSERT_TRUE(frame.Create(host.hwnd));
  EXPECT_EQ(frame.item_text(IDOK), L"Next  >");
  recorded_boxes boxes;

  pickLanguage(frame.startPage, indexOf(Languages::German));
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(frame.item_text(IDOK), localizedString(1006) + L"  >");
  EXPECT_NE(frame.item_text(IDOK), L"Next  >");
  EXPECT_EQ(frame.modePage.item_text(IDC_QUICK_INSTALL), localizedString(1016));
  EXPECT_EQ(frame.folderPage.item_text(IDC_BROWSE), localizedString(1008));
  EXPECT_EQ(frame.shortcutPage.item_text(IDC_DESKTOP_SHORTCUT), localizedString(1113));
  EXPECT_NE(frame.shortcutPage.item_text(IDC_DESKTOP_SHORTCUT), L"Create a Shortcut on the Desktop.");
  EXPECT_EQ(app.name(), applicationTitle(true));

  pickLanguage(frame.startPage, indexOf(Languages::Dutch));
  EXPECT_EQ(boxes.boxes.size(), 1u) << "Dutch: the installer tells it stays in English";
  EXPECT_EQ(frame.item_text(IDOK), L"Next  >");
  EXPECT_EQ(frame.modePage.item_text(IDC_QUICK_INSTALL), L"Quick Installation (Recommended)");
  EXPECT_EQ(currentLanguage().selectedLanguage, Languages::Dutch);

  frame.DestroyWindow();
  app.set_main_window(nullptr);
}

TEST_F(WizardPagesTest, NoSelectionChangesNothing) {
  CDlgStart page;
  ASSERT_TRUE(page.Create(host.hwnd));
  recorded_boxes boxes;
  pickLanguage(page, -1);
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(currentLanguage().selectedLanguage, Languages::English);
  EXPECT_EQ(currentLanguage().language, Languages::English);
}

struct StartTexts {
  ExistingInstall existing;
  const wchar_t* information;
  const wchar_t* status;
};

void PrintTo(const StartTexts& texts, std::ostream* out) {
  *out << "existingInstall " << static_cast<int>(texts.existing);
}

class StartPageTexts : public WizardPagesTest, public ::testing::WithParamInterface<StartTexts> {};

TEST_P(StartPageTexts, InformationAndStatusFollowTheExistingInstallation) {
  app.existingInstall = GetParam().existing;
  app.previousVersionText = L"7.05";
  CDlgStart page;
  ASSERT_TRUE(page.Create(host.hwnd));
  page.refreshTexts();
  EXPECT_EQ(page.item_text(IDC_INFORMATION), GetParam().information);
  EXPECT_EQ(page.item_text(IDC_STATUS), GetParam().status);
  EXPECT_EQ(page.item_text(IDC_LANGUAGE_PROMPT), L"Select Installation Langage");
}

INSTANTIATE_TEST_SUITE_P(
    Variants, StartPageTexts,
    ::testing::Values(
        StartTexts{ExistingInstall::None, L"'Tessaline 7.08v' Installation.",
                   L"Click on 'Next' to continue."},
        StartTexts{ExistingInstall::SameVersion,
                   L"'Tessaline 7.08v' is already installed.\r\nDo you confirm Reinstallation ?",
                   L"Click on 'Next' to continue or on 'Cancel' to exit Installation."},
        StartTexts{ExistingInstall::OlderVersion, L"Update from '7.05' to 'Tessaline 7.08v'.",
                   L"Click on 'Next' to continue."},
        StartTexts{ExistingInstall::NewerVersion,
                   L"'Tessaline 7.08v' Installation.\r\nA more recent Version (7.05) is already installed.",
                   L"Click on 'Cancel' to exit Installation."}),
    [](const ::testing::TestParamInfo<StartTexts>& info) {
      switch (info.param.existing) {
        case ExistingInstall::SameVersion: return std::string("SameVersion");
        case ExistingInstall::OlderVersion: return std::string("OlderVersion");
        case ExistingInstall::NewerVersion: return std::string("NewerVersion");
        default: return std::string("None");
      }
    });

TEST_F(WizardPagesTest, StartPageFit) {
  CDlgStart page;
  ASSERT_TRUE(page.Create(host.hwnd));
  expectFit(page, {{IDC_LANGUAGE_PROMPT, {0, 0, 0, 0}},
                   {IDC_LANGUAGE_LIST, {0, 0, 1, 0}},
                   {IDC_LEGAL_NOTICE, {0, 0, 1, 0}},
                   {IDC_INFORMATION, {0, 0, 1, 1}},
                   {IDC_STATUS, {0, 1, 1, 0}}});
}

// ---- Mode page --------------------------------------------------------------------------------

TEST_F(WizardPagesTest, ModeRadioRoundTrip) {
  CDlgMode page;
  EXPECT_EQ(page.methodChoice, -1);
  ASSERT_TRUE(page.Create(host.hwnd));
  EXPECT_EQ(page.item_ref(IDC_QUICK_INSTALL).send(BM_GETCHECK), BST_CHECKED) << "quick at first";
  EXPECT_EQ(page.item_ref(IDC_ADVANCED_INSTALL).send(BM_GETCHECK), BST_UNCHECKED);

  page.item_ref(IDC_QUICK_INSTALL).send(BM_SETCHECK, BST_UNCHECKED);
  page.item_ref(IDC_ADVANCED_INSTALL).send(BM_SETCHECK, BST_CHECKED);
  ASSERT_TRUE(page.UpdateData(true));
  EXPECT_TRUE(app.advancedMode);
  EXPECT_EQ(page.methodChoice, 1);

  page.item_ref(IDC_ADVANCED_INSTALL).send(BM_SETCHECK, BST_UNCHECKED);
  ASSERT_TRUE(page.UpdateData(false)) << "shown again: loaded from the setting";
  EXPECT_EQ(page.item_ref(IDC_ADVANCED_INSTALL).send(BM_GETCHECK), BST_CHECKED);

  app.advancedMode = false;
  ASSERT_TRUE(page.UpdateData(false));
  EXPECT_EQ(page.item_ref(IDC_QUICK_INSTALL).send(BM_GETCHECK), BST_CHECKED);
  EXPECT_EQ(page.item_ref(IDC_ADVANCED_INSTALL).send(BM_GETCHECK), BST_UNCHECKED);

  page.refreshTexts();
  EXPECT_EQ(page.item_text(IDC_METHOD_GROUP), L"Installation Method");
  EXPECT_EQ(page.item_text(IDC_QUICK_INSTALL), L"Quick Installation (Recommended)");
  EXPECT_EQ(page.item_text(IDC_STATUS), L"Click on 'Next' to continue.");
  expectFit(page, {{IDC_METHOD_GROUP, {0, 0, 1, 0}},
                   {IDC_QUICK_INSTALL, {0, 0, 1, 0}},
                   {IDC_ADVANCED_INSTALL, {0, 0, 1, 0}},
                   {IDC_STATUS, {0, 1, 1, 0}}});
}

// ---- Folder page ------------------------------------------------------------------------------

TEST_F(WizardPagesTest, FolderPageIsOpenForAFreshInstallationAndLockedForAnExistingOne) {
  {
    CDlgPath page;
    ASSERT_TRUE(page.Create(host.hwnd));
    EXPECT_EQ(page.item_text(IDC_FOLDER_EDIT), app.installFolder);
    EXPECT_FALSE(readOnly(page.item(IDC_FOLDER_EDIT)));
    EXPECT_TRUE(::IsWindowEnabled(page.item(IDC_BROWSE)));
    EXPECT_TRUE(::IsWindowEnabled(page.item(IDC_FOLDER_PROMPT)));
  }
  for (ExistingInstall existing :
       {ExistingInstall::SameVersion, ExistingInstall::OlderVersion, ExistingInstall::NewerVersion}) {
    app.existingInstall = existing;
    CDlgPath page;
    ASSERT_TRUE(page.Create(host.hwnd));
    EXPECT_EQ(page.item_text(IDC_FOLDER_EDIT), app.installFolder);
    EXPECT_TRUE(readOnly(page.item(IDC_FOLDER_EDIT)));
    EXPECT_FALSE(::IsWindowEnabled(page.item(IDC_BROWSE)));
    EXPECT_FALSE(::IsWindowEnabled(page.item(IDC_FOLDER_PROMPT)));
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
  EXPECT_TRUE(boxes.boxes.empty());

  page.set_item_text(IDC_FOLDER_EDIT, longest + L"b");
  EXPECT_FALSE(page.UpdateData(true)) << "the page refuses to be left";
  EXPECT_EQ(app.installFolder, longest) << "the refused text is not copied into the setting";
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, L"Enter no more than 260 characters.");

  page.refreshTexts();
  EXPECT_EQ(page.item_text(IDC_FOLDER_PROMPT), L"Select 'Tessaline' Installation Folder.");
  EXPECT_EQ(page.item_text(IDC_BROWSE), L"Browse...");
  expectFit(page, {{IDC_FOLDER_GROUP, {0, 0, 1, 0}},
                   {IDC_FOLDER_PROMPT, {0, 0, 1, 0}},
                   {IDC_FOLDER_EDIT, {0, 0, 1, 0}},
                   {IDC_BROWSE, {1, 0, 0, 0}},
                   {IDC_STATUS, {0, 1, 1, 0}}});
}

TEST_F(WizardPagesTest, FolderBrowseSavesThePageFirstAndTakesThePickedFolderWithTheSubFolder) {
  wchar_t windows[MAX_PATH] = {};
  ASSERT_NE(::GetWindowsDirectoryW(windows, MAX_PATH), 0u);
  CDlgPath page;
  ASSERT_TRUE(page.Create(host.hwnd));

  // Cancel: the typed text was saved before the browser opened, and nothing else changes.
  page.set_item_text(IDC_FOLDER_EDIT, windows);
  clickBrowse(page, false);
  ASSERT_TRUE(robot.found);
  EXPECT_TRUE(samePath(app.installFolder, windows)) << app.installFolder;

  const std::wstring expected = std::wstring(windows) + L"\\Tessaline 7";
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

  struct Case {
    std::wstring menuFolder;
    std::wstring shown;
  };
  const Case cases[] = {
      {root + L"\\Programs\\Nuvelle\\Tessaline 7", L"Programs\\Nuvelle\\Tessaline 7"},
      {root, L""},
      {L"Q:\\Menus\\Tessaline 7", L"Q:\\Menus\\Tessaline 7"},  // another volume: shown in full
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.menuFolder);
    app.menuFolder = c.menuFolder;
    ASSERT_TRUE(page.UpdateData(false));
    EXPECT_EQ(page.item_text(IDC_MENU_FOLDER_EDIT), c.shown);
    app.menuFolder.clear();
    ASSERT_TRUE(page.UpdateData(true));
    EXPECT_EQ(app.menuFolder, c.menuFolder);
  }
}

TEST_F(WizardPagesTest, MenuBrowseTakesThePickedFolderAndShowsItRelativeToTheStartMenu) {
  wchar_t programs[MAX_PATH] = {};
  ASSERT_TRUE(::SHGetSpecialFolderPathW(nullptr, programs, CSIDL_COMMON_PROGRAMS, TRUE));
  app.menuFolder = programs;
  CDlgShortcut page;
  ASSERT_TRUE(page.Create(host.hwnd));

  clickBrowse(page, false);
  ASSERT_TRUE(robot.found);
  EXPECT_EQ(app.menuFolder, programs) << "a cancelled browse changes nothing";

  const std::wstring expected = std::wstring(programs) + L"\\Tessaline 7";
  clickBrowse(page, true);
  ASSERT_TRUE(robot.found);
  if (nv_testing::running_under_wine()) GTEST_SKIP() << kWineBrowserOk;
  EXPECT_TRUE(samePath(app.menuFolder, expected)) << app.menuFolder;
  const std::wstring shown = page.item_text(IDC_MENU_FOLDER_EDIT);
  EXPECT_TRUE(samePath(page.startMenuRoot + L"\\" + shown, expected)) << shown;
  EXPECT_NE(shown.find(L"Tessaline 7"), std::wstring::npos) << shown;
  EXPECT_NE(shown.front(), L'.') << shown;
}

TEST_F(WizardPagesTest, MenuCheckBoxEnablesTheFolderAndBothBoxesReachTheSettings) {
  app.menuFolder = L"C:\\Menu\\Tessaline 7";
  app.createDesktopShortcut = false;
  CDlgShortcut page;
  ASSERT_TRUE(page.Create(host.hwnd));
  EXPECT_EQ(page.item_ref(IDC_MENU_SHORTCUT).send(BM_GETCHECK), BST_CHECKED);
  EXPECT_EQ(page.item_ref(IDC_DESKTOP_SHORTCUT).send(BM_GETCHECK), BST_UNCHECKED);
  EXPECT_TRUE(::IsWindowEnabled(page.item(IDC_MENU_FOLDER_EDIT)));
  EXPECT_TRUE(::IsWindowEnabled(page.item(IDC_BROWSE)));

  page.item_ref(IDC_MENU_SHORTCUT).send(BM_SETCHECK, BST_UNCHECKED);
  ::SendMessageW(page.hwnd(), WM_COMMAND, MAKEWPARAM(IDC_MENU_SHORTCUT, BN_CLICKED),
                 reinterpret_cast<LPARAM>(page.item(IDC_MENU_SHORTCUT)));
  EXPECT_FALSE(::IsWindowEnabled(page.item(IDC_MENU_FOLDER_EDIT)));
  EXPECT_FALSE(::IsWindowEnabled(page.item(IDC_BROWSE)));
  page.item_ref(IDC_DESKTOP_SHORTCUT).send(BM_SETCHECK, BST_CHECKED);

  ASSERT_TRUE(page.UpdateData(true));
  EXPECT_FALSE(app.createMenuShortcut);
  EXPECT_TRUE(app.createDesktopShortcut);
  EXPECT_EQ(app.menuFolder, L"C:\\Menu\\Tessaline 7") << "the folder keeps its value";

  page.item_ref(IDC_MENU_SHORTCUT).send(BM_SETCHECK, BST_CHECKED);
  ::SendMessageW(page.hwnd(), WM_COMMAND, MAKEWPARAM(IDC_MENU_SHORTCUT, BN_CLICKED),
                 reinterpret_cast<LPARAM>(page.item(IDC_MENU_SHORTCUT)));
  EXPECT_TRUE(::IsWindowEnabled(page.item(IDC_MENU_FOLDER_EDIT)));
  EXPECT_TRUE(::IsWindowEnabled(page.item(IDC_BROWSE)));
}

TEST_F(WizardPagesTest, MenuCheckBoxStateAtCreationDecidesTheFolderEnabling) {
  app.createMenuShortcut = false;
  CDlgShortcut page;
  ASSERT_TRUE(page.Create(host.hwnd));
  EXPECT_FALSE(::IsWindowEnabled(page.item(IDC_MENU_FOLDER_EDIT)));
  EXPECT_FALSE(::IsWindowEnabled(page.item(IDC_BROWSE)));
  EXPECT_TRUE(readOnly(page.item(IDC_MENU_FOLDER_EDIT)));

  page.refreshTexts();
  EXPECT_EQ(page.item_text(IDC_MENU_SHORTCUT), L"Create a Shortcut in the following Menu:");
  EXPECT_EQ(page.item_text(IDC_DESKTOP_SHORTCUT), L"Create a Shortcut on the Desktop.");
  EXPECT_EQ(page.item_text(IDC_MENU_GROUP), L"Start menu");
  expectFit(page, {{IDC_MENU_GROUP, {0, 0, 1, 0}},
                   {IDC_MENU_SHORTCUT, {0, 0, 1, 0}},
                   {IDC_MENU_FOLDER_EDIT, {0, 0, 1, 0}},
                   {IDC_BROWSE, {1, 0, 0, 0}},
                   {IDC_DESKTOP_SHORTCUT, {0, 0, 1, 0}},
                   {IDC_STATUS, {0, 1, 1, 0}}});
}

}  // namespace
