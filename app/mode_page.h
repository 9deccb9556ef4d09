// The Mode page: the quick installation (default folders, both shortcuts, straight to the
// Progress page) or the advanced one (the Folder and Shortcut pages are shown).
#pragma once

#include <windows.h>

#include "app/wizard_page.h"

class CDlgMode : public CWizardPage {
 public:
  // From template IDD_MODE_PAGE of `module` (null: the executable).
  explicit CDlgMode(HINSTANCE module = nullptr);

  void refreshTexts() override;
  void fitPage(int dx, int dy) override;

  // Index of the checked radio button: 0 quick, 1 advanced, -1 before the first load.
  int methodChoice = -1;

 protected:
  void DoDataExchange(ui::data_exchange& dx) override;
};
