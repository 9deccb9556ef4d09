#include "app/wizard_frame.h"

#include <commctrl.h>

#include <algorithm>

#include "app/install_app.h"
#include "localization/languages.h"
#include "nv/fatal_error.h"
#include "nv/ui_hooks.h"
#include "nv/version_info.h"
#include "resources/resource_ids.h"
#include "ui/dpi.h"

namespace {

int width(const RECT& r) { return r.right - r.left; }
int height(const RECT& r) { return r.bottom - r.top; }

// String 1003 with the application title without the product.
std::wstring aboutTitle(const std::wstring& pattern) {
  return formatMessage(pattern, {applicationTitle(false)});
}

}  // namespace

// --- About box ---------------------------------------------------------------------------------

CAboutDlg::CAboutDlg()
    : ui::dialog(IDD_ABOUT), icon_(::GetModuleHandleW(nullptr), IDI_APP_ICON) {}

BOOL CAboutDlg::OnInitDialog() {
  ui::dialog::OnInitDialog();
  std::wstring pattern = localizedString(1003);
  if (pattern.empty()) pattern = ui::window_ref(hwnd()).text();
  ::SetWindowTextW(hwnd(), aboutTitle(pattern).c_str());

  const nv::version_info own;
  if (std::wstring version = own.version_text(); !version.empty())
    set_item_text(IDC_ABOUT_VERSION, version);
  if (std::wstring legal = own.legal_copyright(); !legal.empty())
    set_item_text(IDC_ABOUT_LEGAL, legal);
  set_item_text(IDOK, localizedString(1001));
  OnDpiChanged(ui::window_dpi(hwnd()));
  return TRUE;
}

void CAboutDlg::OnDpiChanged(UINT dpi) {
  icon_.show_in(ui::picture_control(hwnd(), SS_ICON), dpi);
}

// --- Frame -------------------------------------------------------------------------------------

namespace {
CWizardFrame* shownFrame = nullptr;
}  // namespace

CWizardFrame::CWizardFrame()
    : ui::dialog(IDD_INSTALL),
      icon_(::GetModuleHandleW(nullptr), IDI_APP_ICON),
      sidePicture_(::GetModuleHandleW(nullptr), IDB_SIDE_PICTURE) {}

CWizardFrame::~CWizardFrame() {
  if (shownFrame == this) shownFrame = nullptr;
}

CWizardFrame* CWizardFrame::shown() noexcept { return shownFrame; }

std::wstring CWizardFrame::aboutMenuText() {
  const std::wstring text = formatLocalized(1003, {applicationTitle(false)});
  if (text.empty()) return text;
  return currentLanguage().rightToLeft ? L"..." + text : L"&" + text + L"...";
}

BOOL CWizardFrame::OnInitDialog() {
  ui::dialog::OnInitDialog();
  shownFrame = this;
  ::SetWindowTextW(hwnd(), applicationTitle(true).c_str());

  // The system menu belongs to the window and goes with it.
  if (HMENU menu = ::GetSystemMenu(hwnd(), FALSE)) {
    const std::wstring about = aboutMenuText();
    if (!about.empty()) {
      ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    }
    ::DeleteMenu(menu, SC_MAXIMIZE, MF_BYCOMMAND);
    ::DeleteMenu(menu, SC_SIZE, MF_BYCOMMAND);
  }
  showPictures(ui::window_dpi(hwnd()));

  // The Start page's language list and the Progress page's bar need their classes registered.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_USEREX_CLASSES | ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
  if (!createPages()) {
    EndDialog(-1);
    return TRUE;
  }
  layoutPages();
  refreshTexts();
  goToPage(WizardPage::StartPage);
  // A newer installation locks Next; it stays the default button, so Enter does nothing.
  if (installApp().existingInstall == ExistingInstall::NewerVersion) {
    nextLocked_ = true;
    item_ref(IDOK).enable(false);
    ::SendMessageW(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(IDCANCEL)), TRUE);
  }
  return FALSE;  // the focus was set by goToPage
}

bool CWizardFrame::createPages() {
  for (CWizardPage* page : pages)
    if (!page || !page->Create(hwnd())) return false;
  return true;
}

void CWizardFrame::showPictures(UINT dpi) {
  // The support library's icon stands in when the executable has none of its own at this size.
  if (!icon_.show_as_window_icon(hwnd(), dpi)) {
    if (HICON icon = nv::application_icon())
      ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  }
  sidePicture_.show(ui::bitmap_control(hwnd()), dpi);
}

RECT CWizardFrame::pageArea() const {
  RECT area{};
  ::GetClientRect(hwnd(), &area);
  area.left = item_ref(IDC_LEFT_PANEL).rect_in_parent().right;
  area.bottom = item_ref(IDC_SEPARATOR).rect_in_parent().top;
  return area;
}

void CWizardFrame::layoutPages() {
  const RECT area = pageArea();
  RECT united = area;
  for (CWizardPage* page : pages) {
    ::SetWindowPos(page->hwnd(), nullptr, united.left, united.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    const RECT placed = ui::window_ref(page->hwnd()).rect_in_parent();
    ::UnionRect(&united, &united, &placed);
  }
  growTo(area, united);
}

void CWizardFrame::growTo(const RECT& area, RECT united) {
  // The side picture is drawn for the scale while the panel grows with the dialog font, which
  // may grow less: the separator goes no higher than the picture's lower edge.
  if (HWND picture = ui::bitmap_control(hwnd()))
    united.bottom = std::max(united.bottom, ui::window_ref(picture).rect_in_parent().bottom);
  const int dx = width(united) - width(area);
  const int dy = height(united) - height(area);

  RECT frame{};
  ::GetWindowRect(hwnd(), &frame);
  ::SetWindowPos(hwnd(), nullptr, 0, 0, width(frame) + dx, height(frame) + dy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  for (CWizardPage* page : pages) {
    if (!page || !page->hwnd()) continue;
    const RECT old = ui::window_ref(page->hwnd()).rect_in_parent();
    ::SetWindowPos(page->hwnd(), nullptr, united.left, united.top, width(united), height(united),
                   SWP_NOZORDER | SWP_NOACTIVATE);
    page->fitPage(width(united) - width(old), height(united) - height(old));
  }

  item_ref(IDC_LEFT_PANEL).adjust(0, 0, 0, dy);
  item_ref(IDC_SEPARATOR).adjust(0, dy, dx, 0);
  for (int button : {IDOK, IDC_BACK, IDCANCEL}) item_ref(button).adjust(dx, dy, 0, 0);
}

void CWizardFrame::OnDpiChanged(UINT dpi) {
  showPictures(dpi);
  for (CWizardPage* page : pages)
    if (page && page->hwnd()) page->rescale(dpi);
  // The system has rescaled the frame and its pages; the picture drawn for the new scale may
  // need more room than the rescaled panel gives it.
  const RECT area = pageArea();
  growTo(area, area);
}

void CWizardFrame::refreshTexts() {
  ::SetWindowTextW(hwnd(), applicationTitle(true).c_str());
  if (HMENU menu = ::GetSystemMenu(hwnd(), FALSE)) {
    const std::wstring about = aboutMenuText();
    ::ModifyMenuW(menu, IDM_ABOUTBOX, MF_BYCOMMAND | MF_STRING, IDM_ABOUTBOX, about.c_str());
  }
  updateButtons();
  for (CWizardPage* page : pages)
    if (page && page->hwnd()) page->refreshTexts();
}

void CWizardFrame::updateButtons() {
  const bool done = installApp().installDone;
  set_item_text(IDOK, currentPage == +WizardPage::ProgressPage && !done
                          ? localizedString(1007)
                          : localizedString(1006) + L"  >");
  set_item_text(IDC_BACK, L"<  " + localizedString(1005));
  set_item_text(IDCANCEL, localizedString(done ? 1004 : 1002));
}

void CWizardFrame::makeDefault(int control) {
  ::SendMessageW(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(control)), TRUE);
  ::SendMessageW(hwnd(), DM_SETDEFID, static_cast<WPARAM>(control), 0);
}

void CWizardFrame::goToPage(int target) {
  if (target < +WizardPage::StartPage || target > +WizardPage::EndPage) return;
  if (currentPage != -1) {
    if (!pages[currentPage]->UpdateData(true)) return;
    ::ShowWindow(pages[currentPage]->hwnd(), SW_HIDE);
  }
  const CInstallApp& app = installApp();
  if (!app.advancedMode && target != currentPage) {
    while (target == +WizardPage::FolderPage || target == +WizardPage::ShortcutPage)
      target += target > currentPage ? 1 : -1;
  }
  if (target != currentPage) pages[target]->UpdateData(false);
  currentPage = target;
  ::ShowWindow(pages[currentPage]->hwnd(), SW_SHOW);
  updateButtons();

  const bool backEnabled = (currentPage > +WizardPage::StartPage && !app.installDone) ||
                           currentPage > +WizardPage::ProgressPage;
  const bool nextEnabled = currentPage < +WizardPage::EndPage && !nextLocked_;
  item_ref(IDC_BACK).enable(backEnabled);
  item_ref(IDOK).enable(nextEnabled);
  if (nextLocked_)
    ::SendMessageW(hwnd(), DM_SETDEFID, IDOK, 0);  // the locked Next stays the default
  else
    makeDefault(nextEnabled ? IDOK : IDCANCEL);
}

bool CWizardFrame::OnCommand(int id, int code, HWND control) {
  if (id == IDC_BACK && code == BN_CLICKED) {
    goToPage(currentPage - 1);
    return true;
  }
  return ui::dialog::OnCommand(id, code, control);
}

void CWizardFrame::OnOK() {
  // Enter reaches here even while Next is disabled (during the installation, on the End page,
  // or with a newer version installed); a disabled Next does nothing.
  if (!::IsWindowEnabled(item(IDOK))) return;
  CInstallApp& app = installApp();
  if (currentPage == +WizardPage::ProgressPage && !app.installDone) {
    for (int button : {IDC_BACK, IDOK, IDCANCEL}) item_ref(button).enable(false);
    app.installDone = runInstall();
    goToPage(WizardPage::ProgressPage);
    item_ref(IDCANCEL).enable(true);
  } else {
    goToPage(currentPage + 1);
  }
}

void CWizardFrame::OnCancel() {
  const CInstallApp& app = installApp();
  const bool unfinished = !app.installDone &&
                          app.existingInstall != ExistingInstall::NewerVersion &&
                          !(app.existingInstall == ExistingInstall::SameVersion &&
                            currentPage == +WizardPage::StartPage);
  if (unfinished &&
      nv::message_box(localizedString(1110), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
    return;
  EndDialog(installApp().installDone ? IDOK : IDCANCEL);
}

bool CWizardFrame::OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
  switch (message) {
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) != IDM_ABOUTBOX) return false;
      {
        CAboutDlg about;
        about.DoModal(hwnd());
      }
      result = 0;
      return true;
    case WM_INITMENUPOPUP: {
      result = default_message(message, wparam, lparam);
      if (HIWORD(lparam) != 0) {  // the system menu
        const auto menu = reinterpret_cast<HMENU>(wparam);
        const bool minimized = ::IsIconic(hwnd()) != FALSE;
        ::EnableMenuItem(menu, SC_MINIMIZE, MF_BYCOMMAND | (minimized ? MF_GRAYED : MF_ENABLED));
        ::EnableMenuItem(menu, SC_RESTORE, MF_BYCOMMAND | (minimized ? MF_ENABLED : MF_GRAYED));
      }
      return true;
    }
    case WM_GETMINMAXINFO: {
      result = default_message(message, wparam, lparam);
      WINDOWPLACEMENT placement{};
      placement.length = sizeof placement;
      if (::GetWindowPlacement(hwnd(), &placement)) {
        auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
        const RECT& normal = placement.rcNormalPosition;
        info->ptMaxSize = {width(normal), height(normal)};
        info->ptMaxPosition = {normal.left, normal.top};
      }
      return true;
    }
    default:
      return false;
  }
}
