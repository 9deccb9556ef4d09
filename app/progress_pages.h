// The last two wizard pages: the Progress page, which shows the chosen options before the
// installation and the installation's log, status line and progress bar while it runs, and the
// End page, which says that the installation is complete.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "app/do_install.h"
#include "app/wizard_page.h"
#include "steps/install_progress.h"

class CInstallApp;

class CDlgInstall : public CWizardPage, public engine::InstallProgress {
 public:
  // From template IDD_PROGRESS_PAGE of `module` (null: the executable).
  explicit CDlgInstall(HINSTANCE module = nullptr);

  void refreshTexts() override;
  void fitPage(int dx, int dy) override;

  // The install sequence's view of the page.
  void setStatus(const std::wstring& text) override;
  // The text in the status line, its path shortened to the line's width.
  void setStatusPath(const std::wstring& text) override;
  // Appends `text` as it is, or, when `banner` is true or `text` is empty, as a line of dashes
  // that fills the log box with `text` in its middle; then scrolls down one line.
  void appendLog(const std::wstring& text, bool banner = false) override;
  // The page itself (Windows makes the frame the owner of any window shown for it).
  HWND ownerWindow() const override;

  // Position 0 and the bar shown; it stays shown from the first installation attempt on.
  void startProgress() override;
  // Moves the bar to progressPosition(done, total).
  void setProgress(std::uint64_t done, std::uint64_t total) override;
  // done / total in percent, rounded, and 100 only when everything is done.
  static int progressPosition(std::uint64_t done, std::uint64_t total);

  // Runs the installation (the install sequence) on this page, and into the /LOG file when the
  // command line named one; true when it completed.
  bool DoInstall();

  ui::window_ref logEdit;
  ui::window_ref progressBar;
  InstalledPrograms programs;

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(ui::data_exchange& dx) override;

 private:
  // The options chosen in the wizard, written into the emptied log box.
  void writeSummary();
  // `text` enclosed in single spaces between dashes that fill the log box's width.
  std::wstring bannerLine(const std::wstring& text) const;
};

class CDlgEnd : public CWizardPage {
 public:
  // From template IDD_END_PAGE of `module` (null: the executable).
  explicit CDlgEnd(HINSTANCE module = nullptr);

  void refreshTexts() override;
  void fitPage(int dx, int dy) override;

 protected:
  void DoDataExchange(ui::data_exchange& dx) override;
};
