// The uninstaller's window: the installer's frame (side picture, buttons below a separator) with
// three pages in turn. The confirmation page asks before anything is removed and offers to remove
// the example projects as well; the removal page shows each step in a log, with a status line and
// a progress bar; the end page says how the removal ended and lists what was removed, what was
// kept and why, and what was refused. The side picture and the icon are the ones drawn for the
// scale of the monitor the window shows on.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <string>

#include "steps/install_progress.h"
#include "ui/dialog.h"
#include "ui/scaled_picture.h"
#include "ui/scaled_icon.h"
#include "uninstaller/uninstall_run.h"

namespace uninstaller {

class CConfirmPage : public ui::dialog {
 public:
  CConfirmPage();
  void refreshTexts();

  bool examplesOffered = false;  // the log names example projects: the box is shown
  int removeExamples = BST_UNCHECKED;

 protected:
  void DoDataExchange(ui::data_exchange& dx) override;
};

class CRemovalPage : public ui::dialog, public engine::InstallProgress {
 public:
  CRemovalPage();
  void refreshTexts();

  void setStatus(const std::wstring& text) override;
  void setStatusPath(const std::wstring& text) override;
  void appendLog(const std::wstring& text, bool banner = false) override;
  HWND ownerWindow() const override;
  void startProgress() override;
  // Moves the bar, then lets the window paint and answer while the removal goes on.
  void setProgress(std::uint64_t done, std::uint64_t total) override;
};

class CRemovedPage : public ui::dialog {
 public:
  CRemovedPage();
  void refreshTexts();
  // The outcome and the summary of `result`.
  void show(const RunResult& result);
};

class CUninstallDlg : public ui::dialog {
 public:
  // Carries out the removal; `removeExamples` is the box's state. The run's result.
  using Removal = std::function<RunResult(engine::InstallProgress& progress, bool removeExamples)>;

  // `examplesOffered`: the confirmation page shows its box.
  CUninstallDlg(bool examplesOffered, Removal removal);

  enum class Page { Confirm, Removal, Removed };
  Page page() const noexcept { return page_; }
  // The run's result once the removal has run.
  const RunResult& result() const noexcept { return result_; }
  bool removed() const noexcept { return ran_; }

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  void OnDpiChanged(UINT dpi) override;

 private:
  void showPage(Page page);
  void refreshTexts();
  // Shows the icon and the side picture drawn for `dpi`, grows the frame where the picture
  // reaches below the separator and gives the pages the area right of the panel.
  void scaleTo(UINT dpi);

  ui::scaled_icon icon_;
  ui::scaled_picture sidePicture_;
  CConfirmPage confirm_;
  CRemovalPage removal_;
  CRemovedPage removed_;
  Removal run_;
  Page page_ = Page::Confirm;
  RunResult result_;
  bool ran_ = false;
  bool running_ = false;
};

}  // namespace uninstaller
