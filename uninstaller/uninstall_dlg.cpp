#include "uninstaller/uninstall_dlg.h"

#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>
#include <utility>

#include "steps/message_pump.h"
#include "localization/languages.h"
#include "nv/product.h"
#include "nv/ui_hooks.h"
#include "resources/resource_ids.h"
#include "ui/dpi.h"

namespace uninstaller {

namespace {

constexpr wchar_t kLineBreak[] = L"\r\n";

// Message ids of the window's texts.
namespace Text {
constexpr UINT Cancel = 1002;
constexpr UINT Exit = 1004;
constexpr UINT ClickToExit = 1186;
constexpr UINT Question = 1151;
constexpr UINT AlsoExamples = 1152;
constexpr UINT KeptNote = 1153;
constexpr UINT Remove = 1154;
constexpr UINT ClickToRemove = 1155;
constexpr UINT Name = 1150;
constexpr UINT Heading = 1180;
constexpr UINT Summary = 1181;
}  // namespace Text

int width(const RECT& r) { return r.right - r.left; }
int height(const RECT& r) { return r.bottom - r.top; }

// Appends `text` at the end of the edit box `edit` and scrolls to it.
void appendTo(HWND edit, const std::wstring& text) {
  const auto end = static_cast<WPARAM>(::GetWindowTextLengthW(edit));
  ::SendMessageW(edit, EM_SETSEL, end, static_cast<LPARAM>(end));
  ::SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  ::SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

}  // namespace

// ---- Confirmation page ------------------------------------------------------------------------

CConfirmPage::CConfirmPage() : ui::dialog(IDD_CONFIRM_PAGE) {}

void CConfirmPage::DoDataExchange(ui::data_exchange& dx) {
  dx.check(IDC_REMOVE_EXAMPLES, removeExamples);
}

void CConfirmPage::refreshTexts() {
  set_item_text(IDC_QUESTION, formatLocalized(Text::Question, {nv::product_label(false)}));
  set_item_text(IDC_REMOVE_EXAMPLES, localizedString(Text::AlsoExamples));
  item_ref(IDC_REMOVE_EXAMPLES).show(examplesOffered);
  set_item_text(IDC_KEPT_NOTE, localizedString(Text::KeptNote));
  set_item_text(IDC_STATUS, formatLocalized(Text::ClickToRemove, {localizedString(Text::Remove),
                                                                  localizedString(Text::Cancel)}));
}

// ---- Removal page -----------------------------------------------------------------------------

CRemovalPage::CRemovalPage() : ui::dialog(IDD_REMOVAL_PAGE) {}

void CRemovalPage::refreshTexts() {
  set_item_text(IDC_HEADING, formatLocalized(Text::Heading, {nv::product_label(false)}));
}

void CRemovalPage::setStatus(const std::wstring& text) { set_item_text(IDC_STATUS, text); }

void CRemovalPage::setStatusPath(const std::wstring& text) {
  ::PathSetDlgItemPathW(hwnd(), IDC_STATUS, text.c_str());
}

void CRemovalPage::appendLog(const std::wstring& text, bool) { appendTo(item(IDC_LOG), text); }

HWND CRemovalPage::ownerWindow() const { return hwnd(); }

void CRemovalPage::startProgress() {
  ::SendMessageW(item(IDC_PROGRESS_BAR), PBM_SETRANGE32, 0, 100);
  ::SendMessageW(item(IDC_PROGRESS_BAR), PBM_SETPOS, 0, 0);
}

void CRemovalPage::setProgress(std::uint64_t done, std::uint64_t total) {
  const auto percent = total == 0 || done >= total ? 100 : static_cast<int>(done * 100 / total);
  ::SendMessageW(item(IDC_PROGRESS_BAR), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
  engine::PumpMessages();
}

// ---- End page ---------------------------------------------------------------------------------

CRemovedPage::CRemovedPage() : ui::dialog(IDD_REMOVED_PAGE) {}

void CRemovedPage::refreshTexts() {
  set_item_text(IDC_SUMMARY_LABEL, localizedString(Text::Summary));
  set_item_text(IDC_STATUS, formatLocalized(Text::ClickToExit, {localizedString(Text::Exit)}));
}

void CRemovedPage::show(const RunResult& result) {
  set_item_text(IDC_RESULT, OutcomeText(result));
  std::wstring summary;
  for (const auto& line : result.summary) summary += line + kLineBreak;
  set_item_text(IDC_SUMMARY, summary);
}

// ---- Frame ------------------------------------------------------------------------------------

CUninstallDlg::CUninstallDlg(bool examplesOffered, Removal removal)
    : ui::dialog(IDD_UNINSTALL),
      icon_(::GetModuleHandleW(nullptr), IDI_APP_ICON),
      sidePicture_(::GetModuleHandleW(nullptr), IDB_SIDE_PICTURE),
      run_(std::move(removal)) {
  confirm_.examplesOffered = examplesOffered;
}

BOOL CUninstallDlg::OnInitDialog() {
  ui::dialog::OnInitDialog();
  if (HMENU menu = ::GetSystemMenu(hwnd(), FALSE)) {
    ::DeleteMenu(menu, SC_MAXIMIZE, MF_BYCOMMAND);
    ::DeleteMenu(menu, SC_SIZE, MF_BYCOMMAND);
  }
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);

  for (ui::dialog* page : std::array<ui::dialog*, 3>{&confirm_, &removal_, &removed_}) {
    if (!page->Create(hwnd())) {
      EndDialog(-1);
      return TRUE;
    }
  }
  scaleTo(ui::window_dpi(hwnd()));
  refreshTexts();
  confirm_.UpdateData(false);
  showPage(Page::Confirm);
  return FALSE;  // the focus is on the Remove button
}

void CUninstallDlg::scaleTo(UINT dpi) {
  // The support library's icon stands in when the executable has none of its own at this size.
  if (!icon_.show_as_window_icon(hwnd(), dpi)) {
    if (HICON icon = nv::application_icon())
      ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  }
  HWND picture = ui::bitmap_control(hwnd());
  sidePicture_.show(picture, dpi);

  RECT area{};
  ::GetClientRect(hwnd(), &area);
  area.left = item_ref(IDC_LEFT_PANEL).rect_in_parent().right;
  area.bottom = item_ref(IDC_SEPARATOR).rect_in_parent().top;
  // The picture is drawn for the scale while the panel grows with the dialog font, which may grow
  // less: the separator goes no higher than the picture's lower edge.
  const int dy =
      picture ? static_cast<int>(std::max<LONG>(
                    0, ui::window_ref(picture).rect_in_parent().bottom - area.bottom))
              : 0;
  if (dy > 0) {
    RECT frame{};
    ::GetWindowRect(hwnd(), &frame);
    ::SetWindowPos(hwnd(), nullptr, 0, 0, width(frame), height(frame) + dy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    item_ref(IDC_LEFT_PANEL).adjust(0, 0, 0, dy);
    item_ref(IDC_SEPARATOR).adjust(0, dy, 0, 0);
    for (int button : {IDOK, IDCANCEL}) item_ref(button).adjust(0, dy, 0, 0);
    area.bottom += dy;
  }
  for (ui::dialog* page : std::array<ui::dialog*, 3>{&confirm_, &removal_, &removed_}) {
    if (!page->hwnd()) continue;
    ::SetWindowPos(page->hwnd(), nullptr, area.left, area.top, width(area), height(area),
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void CUninstallDlg::OnDpiChanged(UINT dpi) { scaleTo(dpi); }

void CUninstallDlg::refreshTexts() {
  ::SetWindowTextW(hwnd(), programTitle(Text::Name, true).c_str());
  confirm_.refreshTexts();
  removal_.refreshTexts();
  removed_.refreshTexts();
}

void CUninstallDlg::showPage(Page page) {
  page_ = page;
  ::ShowWindow(confirm_.hwnd(), page == Page::Confirm ? SW_SHOW : SW_HIDE);
  ::ShowWindow(removal_.hwnd(), page == Page::Removal ? SW_SHOW : SW_HIDE);
  ::ShowWindow(removed_.hwnd(), page == Page::Removed ? SW_SHOW : SW_HIDE);
  set_item_text(IDOK, localizedString(page == Page::Removed ? Text::Exit : Text::Remove));
  item_ref(IDOK).enable(page != Page::Removal);
  item_ref(IDCANCEL).show(page == Page::Confirm);
  item_ref(IDCANCEL).set_text(localizedString(Text::Cancel));
  ::SendMessageW(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(IDOK)), TRUE);
}

void CUninstallDlg::OnOK() {
  if (!::IsWindowEnabled(item(IDOK))) return;
  if (page_ == Page::Removed) return EndDialog(IDOK);
  if (page_ != Page::Confirm || running_ || !confirm_.UpdateData(true)) return;
  running_ = true;
  showPage(Page::Removal);
  result_ = run_(removal_, confirm_.examplesOffered && confirm_.removeExamples == BST_CHECKED);
  ran_ = true;
  running_ = false;
  removed_.show(result_);
  showPage(Page::Removed);
}

void CUninstallDlg::OnCancel() {
  // Nothing may stop a removal half-way; afterwards Exit and the close box end the window.
  if (running_) return;
  EndDialog(page_ == Page::Removed ? IDOK : IDCANCEL);
}

}  // namespace uninstaller
