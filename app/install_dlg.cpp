#include "app/install_dlg.h"

#include "app/install_app.h"
#include "app/install_startup.h"

CInstallDlg::CInstallDlg() {
  pages = {&startPage, &modePage, &folderPage, &shortcutPage, &progressPage, &endPage};
}

BOOL CInstallDlg::OnInitDialog() {
  // The main window from the start: message boxes of the pages' set-up belong to it.
  installApp().set_main_window(hwnd());
  return CWizardFrame::OnInitDialog();
}

bool CInstallDlg::runInstall() { return progressPage.DoInstall(); }

INT_PTR runInstallWizard() {
  CInstallDlg wizard;
  const INT_PTR result = wizard.DoModal();
  installApp().set_main_window(nullptr);
  return result;
}
