#include "app/mode_page.h"

#include "app/install_app.h"
#include "localization/languages.h"
#include "resources/resource_ids.h"

CDlgMode::CDlgMode(HINSTANCE module) : CWizardPage(IDD_MODE_PAGE, module) {}

void CDlgMode::DoDataExchange(ui::data_exchange& dx) {
  CInstallApp& app = installApp();
  if (!dx.saving()) methodChoice = app.advancedMode ? 1 : 0;
  dx.radio(IDC_QUICK_INSTALL, methodChoice);
  if (dx.saving()) app.advancedMode = (methodChoice == 1);
}

void CDlgMode::refreshTexts() {
  set_item_text(IDC_METHOD_GROUP, localizedString(1015));
  set_item_text(IDC_QUICK_INSTALL, localizedString(1016));
  set_item_text(IDC_ADVANCED_INSTALL, localizedString(1017));
  set_item_text(IDC_STATUS, formatLocalized(1106, {localizedString(1006)}));
}

void CDlgMode::fitPage(int dx, int dy) {
  item_ref(IDC_METHOD_GROUP).adjust(0, 0, dx, 0);
  item_ref(IDC_QUICK_INSTALL).adjust(0, 0, dx, 0);
  item_ref(IDC_ADVANCED_INSTALL).adjust(0, 0, dx, 0);
  item_ref(IDC_STATUS).adjust(0, dy, dx, 0);
}
