#include "app/install_app.h"
#include "localization/languages.h"
#include "app/progress_pages.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/page_host.h"

#include "nv/instance_tracking.h"
#include "nv/product.h"
#include "nv/version_info.h"
#include "resources/resource_ids.h"
#include "ui/gdi.h"
#include "run/text_lines.h"

namespace {

using text_test::lines;

// The control's own visibility (the pages and their host stay hidden in these tests).
bool shown(const ui::window_ref& control) {
  return (::GetWindowLongW(control.hwnd(), GWL_STYLE) & WS_VISIBLE) != 0;
}

class PagesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    setCurrentLanguage(Languages::English);
  }
  void SetUp() override {
    ASSERT_NE(host.hwnd, nullptr);
    app.installFolder = L"C:\\Program Files\\Nuvelle\\Tessaline 7";
    app.menuFolder = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Nuvelle\\Tessaline 7";
  }

  // The widths the banner rule works with, measured like the page does.
  struct metrics {
    int available;
    int dash;
  };
  metrics measure(CDlgInstall& page, const std::wstring& enclosed, int* enclosed_width) {
    RECT client{};
    ::GetClientRect(page.logEdit.hwnd(), &client);
    const auto margins = static_cast<DWORD>(page.logEdit.send(EM_GETMARGINS));
    ui::window_dc dc(page.logEdit.hwnd());
    ui::selected_object font(dc.get(),
                             reinterpret_cast<HGDIOBJ>(::SendMessageW(page.hwnd(), WM_GETFONT, 0, 0)));
    SIZE dash{}, text{};
    ::GetTextExtentPoint32W(dc.get(), L"-", 1, &dash);
    ::GetTextExtentPoint32W(dc.get(), enclosed.c_str(), static_cast<int>(enclosed.size()), &text);
    if (enclosed_width) *enclosed_width = text.cx;
    return {client.right - LOWORD(margins) - HIWORD(margins) - 2, dash.cx};
  }

  CInstallApp app;
  host_window host;
};

TEST_F(PagesTest, SummaryWithBothShortcutsHasFiveLinesWithQuotedFolders) {
  CDlgInstall page;
  ASSERT_TRUE(page.Create(host.hwnd));
  const auto summary = lines(page.logEdit.text());
  ASSERT_EQ(summary.size(), 6u) << "five lines and the empty text after the last line break";
  EXPECT_EQ(summary[0], L"'Tessaline 7.08v' Installation.");
  EXPECT_NE(summary[1].find(L"-- Installation Options --"), std::wstring::npos) << "banner";
  EXPECT_EQ(summary[2], L"Installation Folder: \"C:\\Program Files\\Nuvelle\\Tessaline 7\".");
  EXPECT_EQ(summary[3], L"Creating a Shortcut in the Start Menu (Folder \"" + app.menuFolder + L"\").");
  EXPECT_EQ(summary[4], L"Creating a Shortcut on the Desktop.");
  EXPECT_EQ(summary[5], L"");
  EXPECT_EQ(page.logEdit.send(EM_GETFIRSTVISIBLELINE), 0) << "scrolled back to the top";
  EXPECT_FALSE(shown(page.progressBar)) << "hidden until the first installation attempt";
  EXPECT_EQ(page.progressBar.send(PBM_GETRANGE, FALSE), 100);
}

TEST_F(PagesTest, SummaryIsRewrittenOnEveryArrivalUntilTheInstallationSucceeded) {
  app.createMenuShortcut = false;
  app.createDesktopShortcut = false;
  app.installFolder = L"C:\\Apps\\Tessaline7";
  CDlgInstall page;
  ASSERT_TRUE(page.Create(host.hwnd));
  auto summary = lines(page.logEdit.text());
  ASSERT_EQ(summary.size(), 4u) << "three lines without shortcuts";
  EXPECT_EQ(summary[2], L"Installation Folder: C:\\Apps\\Tessaline7.") << "no blanks, no quotes";

  page.appendLog(L"Installing...\r\n");
  app.createDesktopShortcut = true;
  ASSERT_TRUE(page.UpdateData(false));
  summary = lines(page.logEdit.text());
  ASSERT_EQ(summary.size(), 5u) << "written from scratch with the changed options";
  EXPECT_EQ(summary[3], L"Creating a Shortcut on the Desktop.");

  app.installDone = true;
  page.appendLog(L"Done.");
  const std::wstring before = page.logEdit.text();
  ASSERT_TRUE(page.UpdateData(false));
  EXPECT_EQ(page.logEdit.text(), before) << "after success the log stays";
}

TEST_F(PagesTest, BannerDashesFillTheLogBoxAroundTheText) {
  CDlgInstall page;
  ASSERT_TRUE(page.Create(host.hwnd));
  page.logEdit.set_text(L"");

  page.appendLog(L"", false);
  const std::wstring separator = lines(page.logEdit.text())[0];
  const metrics empty = measure(page, L"", nullptr);
  ASSERT_GT(empty.dash, 0);
  EXPECT_EQ(separator, std::wstring(separator.size(), L'-')) << "only dashes";
  EXPECT_EQ(static_cast<int>(separator.size()), empty.available / empty.dash);

  page.logEdit.set_text(L"");
  page.appendLog(L"Copying", true);
  const std::wstring banner = lines(page.logEdit.text())[0];
  int text_width = 0;
  const metrics with_text = measure(page, L" Copying ", &text_width);
  const auto left = banner.find(L" Copying ");
  ASSERT_NE(left, std::wstring::npos);
  const auto right = banner.size() - left - 9;
  const int n = (with_text.available - text_width) / with_text.dash;
  EXPECT_EQ(static_cast<int>(left), n / 2);
  EXPECT_EQ(static_cast<int>(right), (n + 1) / 2);
  EXPECT_EQ(banner.substr(0, left), std::wstring(left, L'-'));

  page.logEdit.set_text(L"");
  const std::wstring wide(400, L'W');
  page.appendLog(wide, true);
  EXPECT_EQ(lines(page.logEdit.text())[0], L" " + wide + L" ") << "too wide: no dashes";

  page.logEdit.set_text(L"");
  page.appendLog(L"plain");
  EXPECT_EQ(page.logEdit.text(), L"plain") << "plain text gets no line break";
}

TEST_F(PagesTest, ProgressReachesOneHundredOnlyWhenEverythingIsDone) {
  EXPECT_EQ(CDlgInstall::progressPosition(199, 200), 99);
  EXPECT_EQ(CDlgInstall::progressPosition(999'999, 1'000'000), 99);
  EXPECT_EQ(CDlgInstall::progressPosition(200, 200), 100);
  EXPECT_EQ(CDlgInstall::progressPosition(1, 200), 1);
  EXPECT_EQ(CDlgInstall::progressPosition(0, 200), 0);
  EXPECT_EQ(CDlgInstall::progressPosition(0x1'0000'0000ull, 0x2'0000'0000ull), 50);
  EXPECT_EQ(CDlgInstall::progressPosition(0, 0), 100) << "nothing to do is done";

  CDlgInstall page;
  ASSERT_TRUE(page.Create(host.hwnd));
  page.startProgress();
  EXPECT_TRUE(shown(page.progressBar));
  page.setProgress(199, 200);
  EXPECT_EQ(page.progressBar.send(PBM_GETPOS), 99);
}

TEST_F(PagesTest, TextsAndLayoutOfBothPages) {
  CDlgInstall progress;
  CDlgEnd end;
  ASSERT_TRUE(progress.Create(host.hwnd));
  ASSERT_TRUE(end.Create(host.hwnd));
  progress.refreshTexts();
  EXPECT_EQ(progress.item_text(IDC_STATUS), L"Click on 'Install' to start Installation.");
  progress.setStatus(L"Preparing Installation...");
  EXPECT_EQ(progress.item_text(IDC_STATUS), L"Preparing Installation...");
  EXPECT_EQ(progress.ownerWindow(), progress.hwnd()) << "the page itself owns what the steps show";

  EXPECT_EQ(end.item_text(IDC_RESULT), L"") << "not done yet";
  app.installDone = true;
  ASSERT_TRUE(end.UpdateData(false));
  EXPECT_EQ(end.item_text(IDC_RESULT), L"Installation is complete.");
  end.refreshTexts();
  EXPECT_EQ(end.item_text(IDC_RESULT), L"");
  EXPECT_EQ(end.item_text(IDC_STATUS), L"Click on 'Exit' to exit Installation.");

  const RECT log = progress.item_ref(IDC_LOG).rect_in_parent();
  const RECT bar = progress.item_ref(IDC_PROGRESS_BAR).rect_in_parent();
  progress.fitPage(30, 20);
  const RECT log_after = progress.item_ref(IDC_LOG).rect_in_parent();
  const RECT bar_after = progress.item_ref(IDC_PROGRESS_BAR).rect_in_parent();
  EXPECT_EQ(log_after.right - log.right, 30);
  EXPECT_EQ(log_after.bottom - log.bottom, 20);
  EXPECT_EQ(log_after.top, log.top);
  EXPECT_EQ(bar_after.top - bar.top, 20);
  EXPECT_EQ(bar_after.bottom - bar.bottom, 20);
  EXPECT_EQ(bar_after.right - bar.right, 30);
}

TEST(InstallApp, SetsTheProductAndCreatesTheMutexUnowned) {
  CInstallApp app;
  EXPECT_EQ(nv::current_product(), nv::tessaline_7);
  EXPECT_EQ(&installApp(), &app);
  EXPECT_FALSE(app.installerMutex.owned());
  EXPECT_NE(app.installerMutex.handle(), nullptr);
  EXPECT_FALSE(nv::application_id().empty()) << "the mutex name carries the identifier";
}

TEST(InstallApp, DestructionReleasesAHeldMutex) {
  const std::wstring name = nv::mutex_name(nv::application_id().empty()
                                               ? (nv::initialize_application_id(), nv::application_id())
                                               : nv::application_id());
  auto taken_elsewhere = [&] {
    bool taken = false;
    std::thread([&] {
      nv::named_mutex other(name, false, true);
      taken = other.try_lock();
    }).join();
    return taken;
  };
  {
    CInstallApp app;
    ASSERT_TRUE(app.installerMutex.try_lock());
    EXPECT_FALSE(taken_elsewhere()) << "a second installer is kept out";
  }
  EXPECT_TRUE(taken_elsewhere());
}

TEST(InstallApp, ExistingInstallReportsTheVersionTextOnlyForOlderAndNewer) {
  CInstallApp app;
  app.previousVersionText = L"7.05";
  const struct {
    ExistingInstall value;
    bool copies;
  } cases[] = {{ExistingInstall::None, false},
               {ExistingInstall::SameVersion, false},
               {ExistingInstall::OlderVersion, true},
               {ExistingInstall::NewerVersion, true}};
  for (const auto& c : cases) {
    app.existingInstall = c.value;
    std::wstring text = L"unchanged";
    EXPECT_EQ(app.getExistingInstall(&text), c.value);
    EXPECT_EQ(text, c.copies ? L"7.05" : L"unchanged") << static_cast<int>(c.value);
    EXPECT_EQ(app.getExistingInstall(), c.value);
  }
}

TEST(InstallApp, NamesTheTemporaryFolderIntoItsSetting) {
  CInstallApp app;
  std::wstring error;
  ASSERT_TRUE(app.MakeTemporaryFolderName(error)) << std::string(error.begin(), error.end());
  EXPECT_NE(app.tempFolder.find(L"nuvelle_{"), std::wstring::npos);
}

}  // namespace
