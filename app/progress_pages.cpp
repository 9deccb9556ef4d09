#include "app/progress_pages.h"

#include <commctrl.h>
#include <shlwapi.h>

#include <cmath>

#include "app/install_app.h"
#include "app/install_summary.h"
#include "localization/languages.h"
#include "app/logged_progress.h"
#include "resources/resource_ids.h"
#include "ui/dpi.h"
#include "ui/gdi.h"

namespace {

constexpr wchar_t kLineBreak[] = L"\r\n";
// What a banner line leaves free of the log box's width besides its margins, at 100 %.
constexpr int kBannerSlack = 2;

SIZE textExtent(HDC dc, const std::wstring& text) {
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size;
}

}  // namespace

// ---- Progress page ----------------------------------------------------------------------------

CDlgInstall::CDlgInstall(HINSTANCE module) : CWizardPage(IDD_PROGRESS_PAGE, module) {}

BOOL CDlgInstall::OnInitDialog() {
  CWizardPage::OnInitDialog();
  progressBar.send(PBM_SETRANGE32, 0, 100);
  progressBar.show(false);
  return TRUE;
}

void CDlgInstall::DoDataExchange(ui::data_exchange& dx) {
  dx.control(IDC_LOG, logEdit);
  dx.control(IDC_PROGRESS_BAR, progressBar);
  if (!dx.saving() && !installApp().installDone) writeSummary();
}

void CDlgInstall::refreshTexts() {
  set_item_text(IDC_STATUS, formatLocalized(1108, {localizedString(1007)}));
}

void CDlgInstall::fitPage(int dx, int dy) {
  item_ref(IDC_LOG).adjust(0, 0, dx, dy);
  item_ref(IDC_PROGRESS_BAR).adjust(0, dy, dx, 0);
  item_ref(IDC_STATUS).adjust(0, dy, dx, 0);
}

void CDlgInstall::setStatus(const std::wstring& text) { set_item_text(IDC_STATUS, text); }

void CDlgInstall::setStatusPath(const std::wstring& text) {
  ::PathSetDlgItemPathW(hwnd(), IDC_STATUS, text.c_str());
}

// The page itself: Windows makes the top-level frame the owner of any window the DirectX setup or
// a folder lookup creates for it.
HWND CDlgInstall::ownerWindow() const { return hwnd(); }

bool CDlgInstall::DoInstall() {
  CInstallApp& app = installApp();
  if (!app.logFile.isOpen()) return ::DoInstall(*this, app, programs);
  // The file gets the summary the page shows, then the run's lines as the page gets them.
  return RunLoggedInstall(app, programs, this);
}

void CDlgInstall::writeSummary() {
  logEdit.set_text(L"");
  for (const SummaryLine& line : installSummary(installApp())) appendLog(line.text, line.banner);
  // Back to the first line; stops when a scroll no longer moves (the box cannot scroll further).
  for (LRESULT first = logEdit.send(EM_GETFIRSTVISIBLELINE); first > 0;) {
    logEdit.send(EM_SCROLL, SB_LINEUP);
    const LRESULT now = logEdit.send(EM_GETFIRSTVISIBLELINE);
    if (now >= first) break;
    first = now;
  }
}

std::wstring CDlgInstall::bannerLine(const std::wstring& text) const {
  RECT client{};
  ::GetClientRect(logEdit.hwnd(), &client);
  const auto margins = static_cast<DWORD>(logEdit.send(EM_GETMARGINS));
  int width = static_cast<int>(client.right - client.left) - LOWORD(margins) - HIWORD(margins) -
              ui::scale_pixels(kBannerSlack, ui::window_dpi(logEdit.hwnd()));

  const std::wstring enclosed = text.empty() ? std::wstring() : L" " + text + L" ";
  int dashWidth = 0;
  {
    ui::window_dc dc(logEdit.hwnd());
    if (!dc) return enclosed;
    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(hwnd(), WM_GETFONT, 0, 0));
    ui::selected_object selectFont(dc.get(), font);
    if (!enclosed.empty()) width -= textExtent(dc.get(), enclosed).cx;
    dashWidth = textExtent(dc.get(), L"-").cx;
  }
  const int n = dashWidth > 0 ? width / dashWidth : 0;
  if (n <= 0) return enclosed;
  if (enclosed.empty()) return std::wstring(static_cast<std::size_t>(n), L'-');
  return std::wstring(static_cast<std::size_t>(n / 2), L'-') + enclosed +
         std::wstring(static_cast<std::size_t>((n + 1) / 2), L'-');
}

void CDlgInstall::appendLog(const std::wstring& text, bool banner) {
  const std::wstring line = (!text.empty() && !banner) ? text : bannerLine(text) + kLineBreak;
  const auto end = static_cast<WPARAM>(::GetWindowTextLengthW(logEdit.hwnd()));
  logEdit.send(EM_SETSEL, end, static_cast<LPARAM>(end));
  logEdit.send(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
  logEdit.send(EM_SCROLL, SB_LINEDOWN);
}

void CDlgInstall::startProgress() {
  progressBar.send(PBM_SETPOS, 0);
  progressBar.show(true);
}

int CDlgInstall::progressPosition(std::uint64_t done, std::uint64_t total) {
  // Nothing to do, or more reported than expected, counts as everything done.
  if (done >= total) return 100;
  const double percent =
      std::floor(static_cast<double>(done) / static_cast<double>(total) * 100.0 + 0.5);
  const int position = static_cast<int>(percent);
  return position >= 100 ? 99 : position;
}

void CDlgInstall::setProgress(std::uint64_t done, std::uint64_t total) {
  progressBar.send(PBM_SETPOS, static_cast<WPARAM>(progressPosition(done, total)));
}

// ---- End page ---------------------------------------------------------------------------------

CDlgEnd::CDlgEnd(HINSTANCE module) : CWizardPage(IDD_END_PAGE, module) {}

void CDlgEnd::DoDataExchange(ui::data_exchange& dx) {
  if (!dx.saving() && installApp().installDone) set_item_text(IDC_RESULT, localizedString(1120));
}

void CDlgEnd::refreshTexts() {
  set_item_text(IDC_RESULT, L"");
  set_item_text(IDC_STATUS, formatLocalized(1107, {localizedString(1004)}));
}

void CDlgEnd::fitPage(int dx, int dy) {
  item_ref(IDC_RESULT).adjust(0, 0, dx, dy);
  item_ref(IDC_STATUS).adjust(0, dy, dx, 0);
}
