// The Start and Mode pages (the language list with its flags and drop-down, the texts for an
// existing installation, the mode radios) and how every page grows with its window.
#include "app/wizard_pages_fixture.h"

namespace {

using namespace wizard_pages_test;

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

// The combo box inside the Start page's language list, whose drop-down the page sizes.
HWND comboControl(CDlgStart& page) {
  return reinterpret_cast<HWND>(page.languageCombo.send(CBEM_GETCOMBOCONTROL));
}

// The width of the widest language name in the Start page's font.
LONG widestName(CDlgStart& page) {
  HWND combo = comboControl(page);
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
  HWND combo = comboControl(page);
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
  HWND combo = comboControl(page);
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
