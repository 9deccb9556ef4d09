#include "app/shortcut_page.h"

#include <shlobj.h>

#include "app/folder_picker.h"
#include "app/install_app.h"
#include "localization/languages.h"
#include "nv/fixed_path.h"
#include "nv/product.h"
#include "resources/resource_ids.h"

namespace {

constexpr std::size_t kMenuTextLimit = MAX_PATH;

// The shell folder `csidl`, not created; empty when the system has none.
std::wstring shellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (!::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE)) return {};
  return path;
}

}  // namespace

CDlgShortcut::CDlgShortcut(HINSTANCE module) : CWizardPage(IDD_SHORTCUT_PAGE, module) {}

std::wstring CDlgShortcut::relativeMenuText(const std::wstring& root,
                                            const std::wstring& menuFolder) {
  // A folder that cannot be reached from the Start menu (another volume) is shown in full;
  // combining it with the root when saving gives it back unchanged.
  return folder_picker_rules::relativeTo(root, menuFolder).value_or(menuFolder);
}

std::wstring CDlgShortcut::combineMenuFolder(const std::wstring& root, const std::wstring& text) {
  return nv::fixed_path::combine(root, text);
}

BOOL CDlgShortcut::OnInitDialog() {
  startMenuRoot = shellFolder(CSIDL_COMMON_STARTMENU);
  if (startMenuRoot.empty()) startMenuRoot = shellFolder(CSIDL_STARTMENU);
  CWizardPage::OnInitDialog();
  applyMenuCheck();
  return TRUE;
}

void CDlgShortcut::DoDataExchange(ui::data_exchange& dx) {
  CInstallApp& app = installApp();
  if (!dx.saving()) {
    desktopShortcutBox = app.createDesktopShortcut ? BST_CHECKED : BST_UNCHECKED;
    menuShortcutBox = app.createMenuShortcut ? BST_CHECKED : BST_UNCHECKED;
    menuFolderText = relativeMenuText(startMenuRoot, app.menuFolder);
  }
  dx.check(IDC_DESKTOP_SHORTCUT, desktopShortcutBox);
  dx.check(IDC_MENU_SHORTCUT, menuShortcutBox);
  dx.text(IDC_MENU_FOLDER_EDIT, menuFolderText, kMenuTextLimit);
  if (dx.saving() && !dx.failed()) {
    app.createDesktopShortcut = desktopShortcutBox != 0;
    app.createMenuShortcut = menuShortcutBox != 0;
    // A combination that does not fit in a path keeps the folder the page was loaded with.
    if (std::wstring combined = combineMenuFolder(startMenuRoot, menuFolderText); !combined.empty())
      app.menuFolder = std::move(combined);
  }
}

bool CDlgShortcut::OnCommand(int id, int code, HWND control) {
  if (code == BN_CLICKED && id == IDC_MENU_SHORTCUT) {
    applyMenuCheck();
    return true;
  }
  if (code == BN_CLICKED && id == IDC_BROWSE) {
    onBrowse();
    return true;
  }
  return CWizardPage::OnCommand(id, code, control);
}

void CDlgShortcut::applyMenuCheck() {
  const bool checked = item_ref(IDC_MENU_SHORTCUT).send(BM_GETCHECK) == BST_CHECKED;
  item_ref(IDC_MENU_FOLDER_EDIT).enable(checked);
  item_ref(IDC_BROWSE).enable(checked);
}

void CDlgShortcut::onBrowse() {
  UpdateData(true);  // a refused text does not stop the browse
  CInstallApp& app = installApp();
  std::wstring start = app.menuFolder;
  std::wstring relative;
  const std::wstring chosen = browseForMenuFolder(start, nv::product_registry_name(nv::tessaline_7),
                                                  localizedString(1112), &relative);
  if (chosen.empty()) return;
  menuFolderText = relative;
  app.menuFolder = chosen;
  UpdateData(false);
}

void CDlgShortcut::refreshTexts() {
  set_item_text(IDC_MENU_GROUP, localizedString(1009));
  set_item_text(IDC_MENU_SHORTCUT, localizedString(1112));
  set_item_text(IDC_BROWSE, localizedString(1008));
  set_item_text(IDC_DESKTOP_SHORTCUT, localizedString(1113));
  set_item_text(IDC_STATUS, formatLocalized(1106, {localizedString(1006)}));
}

void CDlgShortcut::fitPage(int dx, int dy) {
  item_ref(IDC_MENU_GROUP).adjust(0, 0, dx, 0);
  item_ref(IDC_MENU_SHORTCUT).adjust(0, 0, dx, 0);
  item_ref(IDC_MENU_FOLDER_EDIT).adjust(0, 0, dx, 0);
  item_ref(IDC_BROWSE).adjust(dx, 0, 0, 0);
  item_ref(IDC_DESKTOP_SHORTCUT).adjust(0, 0, dx, 0);
  item_ref(IDC_STATUS).adjust(0, dy, dx, 0);
}
