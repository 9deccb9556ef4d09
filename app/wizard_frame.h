// The wizard frame: the installer's main window. It holds six pages in one common area, grows
// once so that the largest page fits, moves between pages (skipping the Folder and Shortcut pages
// in quick mode), starts the installation from the Progress page, asks before leaving an
// unfinished installation and offers an About box from its system menu. Its side picture and
// icon are the ones drawn for the scale of the monitor it shows on. CInstallDlg
// (app/install_dlg.h) gives it the installer's own six pages; tests give it others.
#pragma once

#include <windows.h>

#include <array>
#include <string>

#include "app/wizard_page.h"
#include "ui/dialog.h"
#include "ui/scaled_picture.h"
#include "ui/scaled_icon.h"

// Page index within the wizard (scoped: the system headers declare StartPage and EndPage).
enum class WizardPage : int {
  StartPage = 0,
  ModePage = 1,
  FolderPage = 2,
  ShortcutPage = 3,
  ProgressPage = 4,
  EndPage = 5,
};
inline constexpr int WizardPageCount = 6;
// The index of `page`: +WizardPage::ModePage is 1.
constexpr int operator+(WizardPage page) noexcept { return static_cast<int>(page); }

// The About box: icon (drawn for the box's scale), the installer's version and legal notice, the
// maker's address.
class CAboutDlg : public ui::dialog {
 public:
  CAboutDlg();

 protected:
  BOOL OnInitDialog() override;
  void OnDpiChanged(UINT dpi) override;

 private:
  ui::scaled_icon icon_;
};

class CWizardFrame : public ui::dialog {
 public:
  // The frame from template IDD_INSTALL of the executable. `pages` must be filled, in WizardPage
  // order, before the frame is shown; the frame creates them as its children.
  CWizardFrame();
  ~CWizardFrame() override;

  // The frame on screen (the latest one initialised that still exists), or null. The Start page
  // reaches it to refresh every text after a language change.
  static CWizardFrame* shown() noexcept;

  // Every text of the frame and of its six pages in the current language.
  void refreshTexts();
  // Leaves the shown page (which may refuse) and shows `target`, stepping over the Folder and
  // Shortcut pages in quick mode. Targets outside the six pages are ignored.
  void goToPage(int target);
  void goToPage(WizardPage target) { goToPage(+target); }
  // The captions of Next, Back and Exit for the current page and installation state.
  void updateButtons();

  // The system-menu text of the About entry in the current language (empty when string 1003 is).
  static std::wstring aboutMenuText();

  std::array<CWizardPage*, WizardPageCount> pages{};
  int currentPage = -1;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  void OnOK() override;
  void OnCancel() override;
  bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) override;
  void OnDpiChanged(UINT dpi) override;

  // Runs the installation on the Progress page; true when it completed.
  virtual bool runInstall() = 0;

 private:
  // Places the pages in the page area and grows the frame so that the largest one, and the side
  // picture, fit.
  void layoutPages();
  // The rectangle right of the left panel and above the separator, in client coordinates.
  RECT pageArea() const;
  // Grows the frame from the page area `area` to `united` (as tall at least as the side picture
  // reaches), gives every page the rectangle `united` and moves the separator and the buttons.
  void growTo(const RECT& area, RECT united);
  // Shows the icon and the side picture drawn for `dpi`.
  void showPictures(UINT dpi);
  // Creates the pages from their templates; false when one cannot be created.
  bool createPages();
  // Enables `control` and makes it the focused default button.
  void makeDefault(int control);

  bool nextLocked_ = false;  // a newer version is installed: Next stays disabled
  ui::scaled_icon icon_;
  ui::scaled_picture sidePicture_;
};
