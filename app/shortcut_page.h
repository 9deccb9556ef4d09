// The Shortcut page: whether to create the Start-menu and desktop shortcuts, and the Start-menu
// folder, shown relative to the Start menu and chosen with the menu-folder picker.
#pragma once

#include <windows.h>

#include <string>

#include "app/wizard_page.h"

class CDlgShortcut : public CWizardPage {
 public:
  // From template IDD_SHORTCUT_PAGE of `module` (null: the executable).
  explicit CDlgShortcut(HINSTANCE module = nullptr);

  void refreshTexts() override;
  void fitPage(int dx, int dy) override;

  // `menuFolder` relative to the folder `root`: no leading ".\", "" for the root itself; the
  // folder unchanged when it cannot be expressed relative to `root`.
  static std::wstring relativeMenuText(const std::wstring& root, const std::wstring& menuFolder);
  // `root` and `text` combined in 260 characters; `root` itself for an empty text.
  static std::wstring combineMenuFolder(const std::wstring& root, const std::wstring& text);

  int desktopShortcutBox = 0;
  int menuShortcutBox = 0;
  std::wstring menuFolderText;
  // The Start menu folder, set when the page is created.
  std::wstring startMenuRoot;

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(ui::data_exchange& dx) override;
  bool OnCommand(int id, int code, HWND control) override;

 private:
  // Enables the menu folder and its Browse button exactly when the menu check box is checked.
  void applyMenuCheck();
  void onBrowse();
};
