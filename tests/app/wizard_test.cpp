// The wizard frame over stand-in pages built from the installer's page templates, and the
// start-up decisions: version classification, start language and default folders.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/install_app.h"
#include "app/install_startup.h"
#include "localization/languages.h"
#include "app/wizard_frame.h"
#include "nv/fatal_error.h"
#include "nv/fixed_path.h"
#include "nv/product_test_support.h"
#include "nv/version_info.h"
#include "dpi_test_support.h"
#include "resources/resource_ids.h"
#include "ui/message_filter.h"
#include "ui/scaled_picture.h"

namespace {

// --- Start-up decisions ------------------------------------------------------------------------

// Each classification with the kind of run the log's header names for it.
TEST(StartupClassification, VersionsAgainstTheOneBrought) {
  struct row {
    nv::ProductVersion version;
    ExistingInstall expected;
    const wchar_t* run;
  };
  for (const row& r :
       {row{0x0007000800160001, ExistingInstall::SameVersion, L"reinstallation of 7.8.22.1"},
        row{0x0007000800160002, ExistingInstall::NewerVersion,
            L"newer version 7.8.22.2 installed; 7.8.22.1 is not installed over it"},
        row{0x0007000900000000, ExistingInstall::NewerVersion,
            L"newer version 7.9.0.0 installed; 7.8.22.1 is not installed over it"},
        row{0x0007000800150009, ExistingInstall::OlderVersion,
            L"update from 7.8.21.9 to 7.8.22.1"}}) {
    const InstalledVersion v = classifyVersion(true, r.version, L"text");
    EXPECT_EQ(v.existingInstall, r.expected) << std::hex << r.version;
    EXPECT_EQ(v.previousVersionText, r.expected == ExistingInstall::SameVersion ? L"" : L"text");
    EXPECT_EQ(v.previousVersion, r.expected == ExistingInstall::OlderVersion ? r.version : 0u);
    EXPECT_EQ(runKind(v), r.run);
  }
  const InstalledVersion withoutVersion = classifyVersion(false, 0x0009000000000000, L"x");
  EXPECT_EQ(withoutVersion.existingInstall, ExistingInstall::SameVersion);
  EXPECT_EQ(runKind(withoutVersion), L"reinstallation of 7.8.22.1");
  EXPECT_EQ(runKind(classifyInstalledProduct(L"")), L"first installation of 7.8.22.1");
}

// The stand-in product executables beside this test program.
std::wstring besideTests(const wchar_t* name) {
  wchar_t self[MAX_PATH]{};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return nv::fixed_path::append(nv::fixed_path::remove_file_spec(self), name);
}

TEST(StartupClassification, InstalledStandInsByTheirFileVersion) {
  EXPECT_EQ(classifyInstalledProduct(L"").existingInstall, ExistingInstall::None);
  EXPECT_EQ(classifyInstalledProduct(besideTests(L"Tessaline.exe")).existingInstall,
            ExistingInstall::SameVersion);
  EXPECT_EQ(classifyInstalledProduct(besideTests(L"tessaline_unversioned.exe")).existingInstall,
            ExistingInstall::SameVersion);
  const InstalledVersion newer = classifyInstalledProduct(besideTests(L"tessaline_7_8_22_2.exe"));
  EXPECT_EQ(newer.existingInstall, ExistingInstall::NewerVersion);
  EXPECT_FALSE(newer.previousVersionText.empty());
  EXPECT_EQ(newer.previousVersion, 0u);
  const InstalledVersion older = classifyInstalledProduct(besideTests(L"tessaline_7_8_21_9.exe"));
  EXPECT_EQ(older.existingInstall, ExistingInstall::OlderVersion);
  EXPECT_EQ(older.previousVersion, 0x0007000800150009u);
  EXPECT_FALSE(older.previousVersionText.empty());
}

TEST(StartupLanguage, StoredValueOnlyWhenAProductLanguage) {
  EXPECT_EQ(chooseStartLanguage(Languages::French, 6), Languages::French);   // Danish: ignored
  EXPECT_EQ(chooseStartLanguage(Languages::German, 5), Languages::English);  // Dutch: English UI
  EXPECT_EQ(chooseStartLanguage(Languages::French, 2), Languages::German);
  EXPECT_EQ(chooseStartLanguage(Languages::Czech, 0xFFFFFFFF), Languages::Czech);
  EXPECT_EQ(chooseStartLanguage(Languages::Italian, std::nullopt), Languages::Italian);
  EXPECT_EQ(chooseStartLanguage(Languages::Polish, std::nullopt), Languages::English);
}

TEST(StartupLanguage, ReadsNvLanguageFromTheUninstallKey) {
  nv_test::scratch_machine_key machine;
  EXPECT_FALSE(readStoredLanguage().has_value());
  nv::reg_key key = nv_test::scratch_machine_key::create(
      HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessaline 7");
  const DWORD dutch = 5;
  nv_test::set_raw_value(key.get(), L"NvLanguage", REG_BINARY, &dutch, sizeof dutch);
  EXPECT_EQ(readStoredLanguage(), std::optional<DWORD>(5));  // the type is not looked at
}

std::wstring special(int csidl) {
  wchar_t buffer[MAX_PATH + 1]{};
  return ::SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE) ? buffer : L"";
}

TEST(StartupFolders, ProductFolderUnderProgramFilesAndCommonPrograms) {
  ASSERT_FALSE(special(CSIDL_PROGRAM_FILES).empty());
  EXPECT_EQ(defaultInstallFolder(), special(CSIDL_PROGRAM_FILES) + L"\\Nuvelle\\Tessaline 7");
  ASSERT_FALSE(special(CSIDL_COMMON_PROGRAMS).empty());
  EXPECT_EQ(defaultMenuFolder(), special(CSIDL_COMMON_PROGRAMS) + L"\\Nuvelle\\Tessaline 7");
}

// --- Frame -------------------------------------------------------------------------------------

// A page on one of the installer's page templates that records what the frame asks of it.
class StandInPage : public CWizardPage {
 public:
  using CWizardPage::CWizardPage;
  void refreshTexts() override { ++refreshed; }
  void rescale(UINT dpi) override { rescaledTo = dpi; }
  void fitPage(int dx, int dy) override {
    fitDx = dx;
    fitDy = dy;
    const HWND frame = ::GetParent(hwnd());
    separatorWhenFitted = ui::window_ref(::GetDlgItem(frame, IDC_SEPARATOR)).rect_in_parent();
  }
  RECT separatorWhenFitted{};
  bool refuseSave = false;
  std::function<void()> onSave;
  int loads = 0, saves = 0, refreshed = 0, fitDx = -999, fitDy = -999;
  UINT rescaledTo = 0;

 protected:
  void DoDataExchange(ui::data_exchange& dx) override {
    if (!dx.saving()) {
      ++loads;
      return;
    }
    ++saves;
    if (onSave) onSave();
    if (refuseSave) dx.fail(IDC_STATUS);
  }
};

// The frame over six stand-in pages; `script` runs once the frame is shown and returns whether
// the frame should be ended by the test (result 99) afterwards.
class TestFrame : public CWizardFrame {
 public:
  TestFrame() {
    for (int i = 0; i < WizardPageCount; ++i) pages[i] = &standIns[i];
  }
  std::function<bool(TestFrame&)> script;
  std::function<void()> onLater;  // runs on WM_APP + 1, also inside a nested modal loop
  std::function<bool()> install = [] { return true; };
  std::vector<bool> buttonsEnabledDuringInstall;
  StandInPage standIns[WizardPageCount] = {
      StandInPage(IDD_START_PAGE),    StandInPage(IDD_MODE_PAGE),     StandInPage(IDD_FOLDER_PAGE),
      StandInPage(IDD_SHORTCUT_PAGE), StandInPage(IDD_PROGRESS_PAGE), StandInPage(IDD_END_PAGE)};

  void click(int id) { ::SendMessageW(hwnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  bool enabled(int id) const { return ::IsWindowEnabled(item(id)) != FALSE; }
  bool pageShown(int index) const {
    return (::GetWindowLongW(standIns[index].hwnd(), GWL_STYLE) & WS_VISIBLE) != 0;
  }

 protected:
  BOOL OnInitDialog() override {
    const BOOL result = CWizardFrame::OnInitDialog();
    ::PostMessageW(hwnd(), WM_APP, 0, 0);
    return result;
  }
  bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) override {
    if (message == WM_APP) {
      if (!script || script(*this)) EndDialog(99);
      return true;
    }
    if (message == WM_APP + 1) {
      if (onLater) onLater();
      EndDialog(99);
      return true;
    }
    return CWizardFrame::OnMessage(message, wparam, lparam, result);
  }
  bool runInstall() override {
    for (int id : {IDC_BACK, IDOK, IDCANCEL}) buttonsEnabledDuringInstall.push_back(enabled(id));
    return install();
  }
};

class WizardFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setCurrentLanguage(Languages::English);
    previousDisplay = nv::set_message_box_display([this](const nv::message_box_request& box) {
      boxes.push_back(box);
      return answer;
    });
  }
  void TearDown() override { nv::set_message_box_display(std::move(previousDisplay)); }

  INT_PTR run(std::function<bool(TestFrame&)> script) {
    frame.script = std::move(script);
    return frame.DoModal();
  }

  CInstallApp app;
  TestFrame frame;
  std::vector<nv::message_box_request> boxes;
  int answer = IDNO;
  nv::message_box_display previousDisplay;
};

RECT rectOf(HWND window) { return ui::window_ref(window).rect_in_parent(); }

TEST_F(WizardFrameTest, LayoutGrowsTheFrameToTheLargestPage) {
  ASSERT_EQ(run([](TestFrame& f) {
              const RECT panel = rectOf(f.item(IDC_LEFT_PANEL));
              const RECT separator = rectOf(f.item(IDC_SEPARATOR));
              RECT client{};
              ::GetClientRect(f.hwnd(), &client);
              const RECT united = rectOf(f.standIns[0].hwnd());
              // Template sizes of the pages (dialog units) and of the frame's margin right of Exit.
              const int sizes[WizardPageCount][2] = {{251, 84},  {279, 82}, {278, 86},
                                                     {278, 105}, {219, 97}, {242, 56}};
              int widest = 0, tallest = 0;
              for (int i = 0; i < WizardPageCount; ++i) {
                RECT size{0, 0, sizes[i][0], sizes[i][1]};
                ::MapDialogRect(f.standIns[i].hwnd(), &size);
                widest = std::max<int>(widest, size.right);
                tallest = std::max<int>(tallest, size.bottom);
                const RECT placed = rectOf(f.standIns[i].hwnd());
                EXPECT_TRUE(::EqualRect(&placed, &united)) << i;
                EXPECT_EQ(f.standIns[i].fitDx, united.right - united.left - size.right) << i;
                EXPECT_EQ(f.standIns[i].fitDy, united.bottom - united.top - size.bottom) << i;
              }
              EXPECT_EQ(united.left, panel.right);
              EXPECT_EQ(united.right,
                        client.right);  // the frame grew by exactly what the widest page needs
              EXPECT_EQ(united.right - united.left, widest);
              EXPECT_GE(united.bottom - united.top, tallest);
              EXPECT_EQ(separator.top, united.bottom);
              EXPECT_EQ(panel.bottom, separator.top);
              // The separator and Exit keep their template distances to the right and bottom edges
              // (each template coordinate is converted on its own, as the system does).
              auto pixelsX = [&](int units) {
                RECT r{units, 0, 0, 0};
                ::MapDialogRect(f.hwnd(), &r);
                return static_cast<int>(r.left);
              };
              auto pixelsY = [&](int units) {
                RECT r{0, units, 0, 0};
                ::MapDialogRect(f.hwnd(), &r);
                return static_cast<int>(r.top);
              };
              const RECT exit = rectOf(f.item(IDCANCEL));
              // The frame grew by dx; the separator, still at its template place while the pages
              // were fitted, was lengthened by as much afterwards.
              const int dx = client.right - pixelsX(273);
              const RECT& before = f.standIns[0].separatorWhenFitted;
              EXPECT_EQ(separator.right - separator.left, before.right - before.left + dx);
              EXPECT_EQ(separator.left, before.left);
              EXPECT_EQ(client.right - exit.right, pixelsX(273) - pixelsX(216) - pixelsX(50));
              EXPECT_EQ(client.bottom - exit.bottom, pixelsY(139) - pixelsY(118) - pixelsY(14));
              return true;
            }),
            99);
}

TEST_F(WizardFrameTest, QuickModeSkipsFolderAndShortcutPages) {
  run([this](TestFrame& f) {
    EXPECT_EQ(f.currentPage, +WizardPage::StartPage);
    EXPECT_TRUE(f.pageShown(+WizardPage::StartPage));
    EXPECT_FALSE(f.enabled(IDC_BACK));
    f.click(IDOK);
    EXPECT_EQ(f.currentPage, +WizardPage::ModePage);
    f.click(IDOK);
    EXPECT_EQ(f.currentPage, +WizardPage::ProgressPage);
    EXPECT_FALSE(f.pageShown(+WizardPage::ModePage));
    EXPECT_TRUE(f.pageShown(+WizardPage::ProgressPage));
    f.click(IDC_BACK);
    EXPECT_EQ(f.currentPage, +WizardPage::ModePage);
    // Advanced mode chosen on the Mode page is read after the page saved it.
    f.standIns[+WizardPage::ModePage].onSave = [this] { app.advancedMode = true; };
    f.click(IDOK);
    EXPECT_EQ(f.currentPage, +WizardPage::FolderPage);
    f.click(IDOK);
    EXPECT_EQ(f.currentPage, +WizardPage::ShortcutPage);
    f.click(IDOK);
    EXPECT_EQ(f.currentPage, +WizardPage::ProgressPage);
    f.click(IDC_BACK);
    f.click(IDC_BACK);
    f.click(IDC_BACK);
    EXPECT_EQ(f.currentPage, +WizardPage::ModePage);
    f.standIns[+WizardPage::ModePage].onSave = [this] { app.advancedMode = false; };
    const int folderLoads = f.standIns[+WizardPage::FolderPage].loads;
    f.click(IDOK);
    EXPECT_EQ(f.currentPage, +WizardPage::ProgressPage);
    EXPECT_EQ(f.standIns[+WizardPage::FolderPage].loads, folderLoads);  // stepped over, not loaded
    return true;
  });
}

TEST_F(WizardFrameTest, RefusingPageKeepsTheFrameThere) {
  run([](TestFrame& f) {
    f.click(IDOK);
    f.standIns[+WizardPage::ModePage].refuseSave = true;
    const int loadsBefore = f.standIns[+WizardPage::ProgressPage].loads;
    const int startLoads = f.standIns[+WizardPage::StartPage].loads;
    f.click(IDOK);
    f.click(IDC_BACK);
    EXPECT_EQ(f.currentPage, +WizardPage::ModePage);
    EXPECT_TRUE(f.pageShown(+WizardPage::ModePage));
    EXPECT_EQ(f.standIns[+WizardPage::ProgressPage].loads, loadsBefore);
    EXPECT_EQ(f.standIns[+WizardPage::StartPage].loads, startLoads);
    EXPECT_EQ(f.standIns[+WizardPage::ModePage].saves, 2);
    return true;
  });
}

TEST_F(WizardFrameTest, ButtonsFollowTheInstallation) {
  int attempts = 0;
  frame.install = [&] { return ++attempts == 2; };  // fails once, then succeeds
  run([&](TestFrame& f) {
    EXPECT_EQ(f.item_text(IDOK), L"Next  >");
    EXPECT_EQ(f.item_text(IDC_BACK), L"<  Back");
    EXPECT_EQ(f.item_text(IDCANCEL), L"Cancel");
    f.click(IDOK);
    f.click(IDOK);
    EXPECT_EQ(f.item_text(IDOK), L"Install");
    f.click(IDOK);  // fails
    EXPECT_EQ(f.buttonsEnabledDuringInstall, (std::vector<bool>{false, false, false}));
    EXPECT_FALSE(app.installDone);
    EXPECT_EQ(f.currentPage, +WizardPage::ProgressPage);
    EXPECT_EQ(f.item_text(IDOK), L"Install");
    EXPECT_TRUE(f.enabled(IDC_BACK) && f.enabled(IDOK) && f.enabled(IDCANCEL));
    f.click(IDOK);  // succeeds
    EXPECT_TRUE(app.installDone);
    EXPECT_EQ(f.item_text(IDOK), L"Next  >");
    EXPECT_EQ(f.item_text(IDCANCEL), L"Exit");
    EXPECT_FALSE(f.enabled(IDC_BACK));
    EXPECT_TRUE(f.enabled(IDCANCEL));
    f.click(IDOK);
    EXPECT_EQ(f.currentPage, +WizardPage::EndPage);
    EXPECT_FALSE(f.enabled(IDOK));
    EXPECT_TRUE(f.enabled(IDC_BACK));
    f.click(IDOK);  // Enter on the End page: nothing happens
    EXPECT_EQ(f.currentPage, +WizardPage::EndPage);
    f.click(IDC_BACK);
    EXPECT_EQ(f.currentPage, +WizardPage::ProgressPage);
    EXPECT_EQ(attempts, 2);
    return true;
  });
}

TEST_F(WizardFrameTest, CancelAsksOnlyForAnUnfinishedInstallation) {
  struct row {
    ExistingInstall existing;
    int pagesAhead;  // Next clicks before Exit
    bool done;
    bool asks;
  };
  for (const row& r : {row{ExistingInstall::None, 0, false, true},
                       row{ExistingInstall::OlderVersion, 0, false, true},
                       row{ExistingInstall::SameVersion, 0, false, false},
                       row{ExistingInstall::SameVersion, 1, false, true},
                       row{ExistingInstall::NewerVersion, 0, false, false},
                       row{ExistingInstall::None, 1, true, false}}) {
    boxes.clear();
    app.existingInstall = r.existing;
    app.installDone = r.done;
    answer = IDNO;
    TestFrame f;
    f.script = [&](TestFrame& shown) {
      for (int i = 0; i < r.pagesAhead; ++i) shown.click(IDOK);
      shown.click(IDCANCEL);  // answered No when asked
      if (!r.asks) return false;
      answer = IDYES;
      shown.click(IDCANCEL);
      return false;
    };
    EXPECT_EQ(f.DoModal(), r.done ? IDOK : IDCANCEL) << static_cast<int>(r.existing);
    ASSERT_EQ(boxes.size(), r.asks ? 2u : 0u) << static_cast<int>(r.existing);
    if (r.asks) {
      EXPECT_EQ(boxes[0].text, localizedString(1110));
      EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
    }
  }
}

TEST_F(WizardFrameTest, NewerVersionKeepsTheStartPage) {
  app.existingInstall = ExistingInstall::NewerVersion;
  run([](TestFrame& f) {
    EXPECT_FALSE(f.enabled(IDOK));
    // Next stays the default button, disabled: Enter does nothing rather than close.
    EXPECT_EQ(LOWORD(::SendMessageW(f.hwnd(), DM_GETDEFID, 0, 0)), IDOK);
    f.click(IDOK);  // Enter
    EXPECT_EQ(f.currentPage, +WizardPage::StartPage);
    return true;
  });
}

TEST_F(WizardFrameTest, TextsSystemMenuAndMaximizedSize) {
  run([](TestFrame& f) {
    HMENU menu = ::GetSystemMenu(f.hwnd(), FALSE);
    wchar_t about[100]{};
    ::GetMenuStringW(menu, IDM_ABOUTBOX, about, 100, MF_BYCOMMAND);
    EXPECT_STREQ(about, L"&About 'Installer'...");
    EXPECT_EQ(::GetMenuState(menu, SC_MAXIMIZE, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_EQ(::GetMenuState(menu, SC_SIZE, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_EQ(ui::window_ref(f.hwnd()).text(), applicationTitle(true));
    for (const StandInPage& page : f.standIns) EXPECT_EQ(page.refreshed, 1);

    setCurrentLanguage(Languages::French);
    f.refreshTexts();
    ::GetMenuStringW(menu, IDM_ABOUTBOX, about, 100, MF_BYCOMMAND);
    EXPECT_STREQ(about, L"&À propos de 'Installeur'...");
    EXPECT_EQ(f.item_text(IDCANCEL), L"Annuler");
    for (const StandInPage& page : f.standIns) EXPECT_EQ(page.refreshed, 2);
    setCurrentLanguage(Languages::Hebrew);  // right to left: no accelerator, dots in front
    EXPECT_EQ(CWizardFrame::aboutMenuText(), L"...About 'Installer'");
    setCurrentLanguage(Languages::English);

    MINMAXINFO info{};
    ::SendMessageW(f.hwnd(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    RECT window{};
    ::GetWindowRect(f.hwnd(), &window);
    EXPECT_EQ(info.ptMaxSize.x, window.right - window.left);
    EXPECT_EQ(info.ptMaxSize.y, window.bottom - window.top);
    return true;
  });
}

// The About box shows the icon drawn for its scale, also after a move to another scale.
TEST_F(WizardFrameTest, SystemMenuCommandOpensTheAboutBox) {
  std::wstring title, version, ok;
  std::vector<int> iconEdges;
  frame.onLater = [&] {
    const HWND about = ui::active_modal_dialog();
    ASSERT_NE(about, frame.hwnd());
    title = ui::window_ref(about).text();
    version = ui::window_ref(::GetDlgItem(about, IDC_ABOUT_VERSION)).text();
    ok = ui::window_ref(::GetDlgItem(about, IDOK)).text();
    const HWND icon = ui::picture_control(about, SS_ICON);
    const auto edge = [&] {
      return nv_testing::icon_edge(
          reinterpret_cast<HICON>(::SendMessageW(icon, STM_GETICON, 0, 0)));
    };
    iconEdges.push_back(edge());
    nv_testing::move_to_scale(about, 144);
    iconEdges.push_back(edge());
    ::SendMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  };
  run([](TestFrame& f) {
    ::PostMessageW(f.hwnd(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    ::PostMessageW(f.hwnd(), WM_APP + 1, 0, 0);  // handled while the About box is up
    return false;
  });
  EXPECT_EQ(title, L"About 'Installer'");
  EXPECT_EQ(version, nv::version_info().version_text());
  EXPECT_FALSE(version.empty());
  EXPECT_EQ(ok, L"OK");
  EXPECT_EQ(iconEdges, (std::vector<int>{32, 48}));
}

// Moved to a monitor of another scale, the frame takes the suggested rectangle, shows the side
// picture and the icon drawn for that scale, has every page rescale itself, and grows when the
// picture needs more room above the separator than the frame has.
TEST_F(WizardFrameTest, AnotherScaleSwapsThePicturesAndRescalesThePages) {
  run([](TestFrame& f) {
    const HWND picture = ui::bitmap_control(f.hwnd());
    EXPECT_EQ(nv_testing::shown_bitmap(picture).cx, 87) << "the picture for this window's scale";
    for (const nv_testing::scale_sizes& scale : nv_testing::kScaleSizes) {
      SCOPED_TRACE(scale.dpi);
      const RECT suggested = nv_testing::move_to_scale(f.hwnd(), scale.dpi);
      const RECT separator = rectOf(f.item(IDC_SEPARATOR));
      nv_testing::expect_rescaled_window(f.hwnd(), suggested, picture, scale, separator.top);
      EXPECT_EQ(rectOf(f.item(IDC_LEFT_PANEL)).bottom, separator.top);
      EXPECT_EQ(rectOf(f.standIns[0].hwnd()).bottom, separator.top);
      for (const StandInPage& page : f.standIns) EXPECT_EQ(page.rescaledTo, scale.dpi);
    }
    return true;
  });
}

}  // namespace
