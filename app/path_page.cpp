#include "app/path_page.h"

#include "app/folder_picker.h"
#include "app/install_app.h"
#include "machine/folder_rules.h"
#include "localization/languages.h"
#include "nv/product.h"
#include "nv/fatal_error.h"
#include "resources/resource_ids.h"

namespace {

// The longest folder text the page accepts.
constexpr std::size_t kFolderTextLimit = MAX_PATH;

}  // namespace

CDlgPath::CDlgPath(HINSTANCE module) : CWizardPage(IDD_FOLDER_PAGE, module) {}

BOOL CDlgPath::OnInitDialog() {
  CWizardPage::OnInitDialog();
  // An installed product keeps its folder: shown, not changeable.
  if (installApp().existingInstall != ExistingInstall::None) {
    item_ref(IDC_FOLDER_PROMPT).enable(false);
    item_ref(IDC_BROWSE).enable(false);
    item_ref(IDC_FOLDER_EDIT).send(EM_SETREADONLY, TRUE);
  }
  return TRUE;
}

void CDlgPath::DoDataExchange(ui::data_exchange& dx) {
  CInstallApp& app = installApp();
  if (!dx.saving()) folderText = app.installFolder;
  dx.text(IDC_FOLDER_EDIT, folderText, kFolderTextLimit);
  if (!dx.saving() || dx.failed()) return;
  // A folder the uninstaller could never remove from is refused, and the page stays; an
  // installed product's folder is not the page's to judge.
  if (app.existingInstall == ExistingInstall::None) {
    const engine::PlaceRefusal refusal =
        engine::judgeInstallFolder(folderText, engine::machineFolders());
    if (refusal != engine::PlaceRefusal::none) {
      nv::message_box(formatLocalized(1194, {engine::describePlaceRefusal(refusal, folderText)}),
                      MB_OK | MB_ICONEXCLAMATION);
      dx.fail(IDC_FOLDER_EDIT);
      return;
    }
  }
  // A refused text stays in the box only; the setting keeps its last valid value.
  app.installFolder = folderText;
}

bool CDlgPath::OnCommand(int id, int code, HWND control) {
  if (id == IDC_BROWSE && code == BN_CLICKED) {
    onBrowse();
    return true;
  }
  return CWizardPage::OnCommand(id, code, control);
}

void CDlgPath::onBrowse() {
  UpdateData(true);  // a refused text does not stop the browse
  CInstallApp& app = installApp();
  const std::wstring title = formatLocalized(1111, {nv::product_label(true)});
  std::wstring start = app.installFolder;
  const std::wstring chosen =
      browseForFolder(start, nv::product_registry_name(nv::tessaline_7), title);
  if (chosen.empty()) return;
  app.installFolder = chosen;
  UpdateData(false);
}

void CDlgPath::refreshTexts() {
  set_item_text(IDC_FOLDER_GROUP, localizedString(1010));
  set_item_text(IDC_FOLDER_PROMPT, formatLocalized(1111, {nv::product_label(true)}));
  set_item_text(IDC_BROWSE, localizedString(1008));
  set_item_text(IDC_STATUS, formatLocalized(1106, {localizedString(1006)}));
}

void CDlgPath::fitPage(int dx, int dy) {
  item_ref(IDC_FOLDER_GROUP).adjust(0, 0, dx, 0);
  item_ref(IDC_FOLDER_PROMPT).adjust(0, 0, dx, 0);
  item_ref(IDC_FOLDER_EDIT).adjust(0, 0, dx, 0);
  item_ref(IDC_BROWSE).adjust(dx, 0, 0, 0);
  item_ref(IDC_STATUS).adjust(0, dy, dx, 0);
}
