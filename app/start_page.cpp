#include "app/start_page.h"

#include <algorithm>

#include "app/install_app.h"
#include "app/wizard_frame.h"
#include "nv/fatal_error.h"
#include "nv/product.h"
#include "nv/version_info.h"
#include "resources/resource_ids.h"
#include "ui/dpi.h"
#include "ui/gdi.h"

namespace {

constexpr wchar_t kLineBreak[] = L"\r\n";
// Item texts are measured up to this many characters.
constexpr int kMeasuredText = 256;
// Room for the flag and the margins beside the widest text of the drop-down, at 100 %.
constexpr int kDropDownExtra = 30;
// A flag and the image list's item that holds it, at 100 %: the item leaves a margin beside it.
constexpr SIZE kFlag{16, 12};
constexpr SIZE kFlagItem{18, 12};

// `size` at 100 % at the picture scale for `dpi`.
SIZE atScale(SIZE size, UINT dpi) {
  const int percent = ui::kPictureScales[ui::picture_scale_index(dpi)];
  return {ui::picture_pixels(size.cx, percent), ui::picture_pixels(size.cy, percent)};
}

}  // namespace

CDlgStart::CDlgStart(HINSTANCE module) : CWizardPage(IDD_START_PAGE, module) {}

const std::vector<LanguageId>& CDlgStart::listedLanguages() {
  static const std::vector<LanguageId> order = [] {
    std::vector<std::pair<int, LanguageId>> positioned;
    const auto& table = languageTable();
    for (LanguageId language = 0; language < Languages::Count; ++language) {
      const int position = table[static_cast<std::size_t>(language)].listPosition;
      if (position > 0) positioned.emplace_back(position, language);
    }
    std::sort(positioned.begin(), positioned.end());
    std::vector<LanguageId> languages;
    for (const auto& entry : positioned) languages.push_back(entry.second);
    return languages;
  }();
  return order;
}

BOOL CDlgStart::OnInitDialog() {
  CWizardPage::OnInitDialog();
  const nv::version_info own;
  if (std::wstring legal = own.legal_copyright(); !legal.empty())
    set_item_text(IDC_LEGAL_NOTICE, legal);
  fillLanguageList();
  return TRUE;
}

void CDlgStart::DoDataExchange(ui::data_exchange& dx) {
  dx.control(IDC_LANGUAGE_LIST, languageCombo);
}

std::vector<int> CDlgStart::loadFlags(UINT dpi) {
  const SIZE item = atScale(kFlagItem, dpi);
  const SIZE flag = atScale(kFlag, dpi);
  app_images::unique_image_list list(::ImageList_Create(item.cx, item.cy, ILC_COLOR24, 8, 1));
  HINSTANCE resources = ::GetModuleHandleW(nullptr);
  std::vector<int> images;
  for (LanguageId language : listedLanguages()) {
    app_images::unique_icon icon(static_cast<HICON>(::LoadImageW(
        resources, MAKEINTRESOURCEW(languageFlagIcon(language)), IMAGE_ICON, flag.cx, flag.cy, 0)));
    // A missing flag leaves the item without an image rather than with a neighbour's.
    images.push_back(icon && list ? ::ImageList_AddIcon(list.get(), icon.get()) : -1);
  }
  languageCombo.send(CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(list.get()));
  // The list shown before is released once the combo box has let go of it.
  flagImages = std::move(list);
  return images;
}

void CDlgStart::fillLanguageList() {
  const UINT dpi = ui::window_dpi(hwnd());
  const std::vector<int> images = loadFlags(dpi);
  // The language the product will record, which the installer may not speak itself.
  const LanguageId current = currentLanguage().selectedLanguage;
  int currentPosition = -1;
  int position = 0;
  for (LanguageId language : listedLanguages()) {
    std::wstring name = languageDisplayName(language);
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_LPARAM;
    item.iItem = position;
    item.pszText = name.data();
    item.iImage = images[static_cast<std::size_t>(position)];
    item.iSelectedImage = item.iImage;
    item.lParam = static_cast<LPARAM>(language);
    languageCombo.send(CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    if (language == current) currentPosition = position;
    ++position;
  }
  sizeDropDown(dpi);
  languageCombo.send(CB_SETCURSEL, static_cast<WPARAM>(currentPosition));
}

void CDlgStart::rescale(UINT dpi) {
  const std::vector<int> images = loadFlags(dpi);
  for (std::size_t position = 0; position < images.size(); ++position) {
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_IMAGE | CBEIF_SELECTEDIMAGE;
    item.iItem = static_cast<INT_PTR>(position);
    item.iImage = images[position];
    item.iSelectedImage = images[position];
    languageCombo.send(CBEM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  sizeDropDown(dpi);
  ::InvalidateRect(languageCombo.hwnd(), nullptr, TRUE);
}

void CDlgStart::sizeDropDown(UINT dpi) {
  // The inner combo box draws the drop-down; it is also the one that keeps the dropped width.
  HWND combo = reinterpret_cast<HWND>(languageCombo.send(CBEM_GETCOMBOCONTROL));
  if (!combo) combo = languageCombo.hwnd();
  HWND edit = reinterpret_cast<HWND>(languageCombo.send(CBEM_GETEDITCONTROL));
  ui::window_dc dc(edit ? edit : combo);
  if (!dc) return;
  HFONT font = reinterpret_cast<HFONT>(::SendMessageW(hwnd(), WM_GETFONT, 0, 0));
  ui::selected_object selectFont(dc.get(), font);
  int widest = 0;
  const auto count = static_cast<int>(languageCombo.send(CB_GETCOUNT));
  for (int index = 0; index < count; ++index) {
    wchar_t text[kMeasuredText + 1] = {};
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_TEXT;
    item.iItem = index;
    item.pszText = text;
    item.cchTextMax = kMeasuredText;
    if (!languageCombo.send(CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) continue;
    SIZE size{};
    ::GetTextExtentPoint32W(dc.get(), text, static_cast<int>(::lstrlenW(text)), &size);
    widest = std::max(widest, static_cast<int>(size.cx));
  }
  const int width = widest + ui::scale_pixels(kDropDownExtra, dpi);
  ::SendMessageW(combo, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(width), 0);
}

bool CDlgStart::OnCommand(int id, int code, HWND control) {
  if (id != IDC_LANGUAGE_LIST || code != CBN_SELCHANGE)
    return CWizardPage::OnCommand(id, code, control);
  const auto index = static_cast<int>(languageCombo.send(CB_GETCURSEL));
  if (index < 0) return true;
  COMBOBOXEXITEMW item{};
  item.mask = CBEIF_LPARAM;
  item.iItem = index;
  if (languageCombo.send(CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
    chooseLanguage(static_cast<LanguageId>(item.lParam));
  return true;
}

void CDlgStart::chooseLanguage(LanguageId language) {
  currentLanguage().selectedLanguage = language;
  setCurrentLanguage(language);
  if (!isInstallerUiLanguage(language)) {
    // The installer does not speak `language`: the message comes from the English block.
    nv::message_box(formatLocalized(1129, {nv::product_label(true)}), MB_OK | MB_ICONINFORMATION);
    setCurrentLanguage(Languages::English);
  }
  if (ui::application* app = ui::application::instance()) app->set_name(applicationTitle(true));
  if (CWizardFrame* frame = CWizardFrame::shown()) {
    frame->refreshTexts();
  } else {
    refreshTexts();
  }
}

void CDlgStart::refreshTexts() {
  set_item_text(IDC_LANGUAGE_PROMPT, localizedString(1014));
  const std::wstring product = nv::product_label(false);
  std::wstring previous;
  std::wstring information;
  std::wstring status;
  switch (installApp().getExistingInstall(&previous)) {
    case ExistingInstall::SameVersion:
      information = formatLocalized(1102, {product}) + kLineBreak + localizedString(1104);
      status = formatLocalized(1105, {localizedString(1006), localizedString(1002)});
      break;
    case ExistingInstall::OlderVersion:
      information = formatLocalized(1101, {previous, product});
      status = formatLocalized(1106, {localizedString(1006)});
      break;
    case ExistingInstall::NewerVersion:
      information =
          formatLocalized(1100, {product}) + kLineBreak + formatLocalized(1103, {previous});
      status = formatLocalized(1107, {localizedString(1002)});
      break;
    case ExistingInstall::None:
    default:
      information = formatLocalized(1100, {product});
      status = formatLocalized(1106, {localizedString(1006)});
      break;
  }
  set_item_text(IDC_INFORMATION, information);
  set_item_text(IDC_STATUS, status);
}

void CDlgStart::fitPage(int dx, int dy) {
  item_ref(IDC_LANGUAGE_LIST).adjust(0, 0, dx, 0);
  item_ref(IDC_LEGAL_NOTICE).adjust(0, 0, dx, 0);
  item_ref(IDC_INFORMATION).adjust(0, 0, dx, dy);
  item_ref(IDC_STATUS).adjust(0, dy, dx, 0);
}
