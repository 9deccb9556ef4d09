// The installer's wizard frame: the frame of app/wizard_frame.h with the installer's own six
// pages, installing through the Progress page.
#pragma once

#include "app/mode_page.h"
#include "app/path_page.h"
#include "app/progress_pages.h"
#include "app/shortcut_page.h"
#include "app/start_page.h"
#include "app/wizard_frame.h"

class CInstallDlg : public CWizardFrame {
 public:
  CInstallDlg();

  CDlgStart startPage;
  CDlgMode modePage;
  CDlgPath folderPage;
  CDlgShortcut shortcutPage;
  CDlgInstall progressPage;
  CDlgEnd endPage;

 protected:
  BOOL OnInitDialog() override;
  bool runInstall() override;
};
