// The Folder page: shows and edits the installation folder, with a Browse button that opens the
// folder picker. When the product is already installed the folder is fixed and only shown.
#pragma once

#include <windows.h>

#include <string>

#include "app/wizard_page.h"

class CDlgPath : public CWizardPage {
 public:
  // From template IDD_FOLDER_PAGE of `module` (null: the executable).
  explicit CDlgPath(HINSTANCE module = nullptr);

  void refreshTexts() override;
  void fitPage(int dx, int dy) override;

  // The text of the folder edit box.
  std::wstring folderText;

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(ui::data_exchange& dx) override;
  bool OnCommand(int id, int code, HWND control) override;

 private:
  void onBrowse();
};
