// The install sequence's progress as the /LOG file receives it. Every log text goes to the file
// as it comes (a banner as a line of dashes of the file's own width); the last status is kept, so
// that the run's outcome can be named at its end. Given a window's progress (the Progress page),
// it passes everything on to it as well; without one it is the whole progress of an unattended
// installation, which has no window.
#pragma once

#include <string>

#include "app/log_file.h"
#include "engine/install_progress.h"

class CInstallApp;
struct InstalledPrograms;

class CLoggedProgress : public engine::InstallProgress {
 public:
  // `file` may be closed (nothing is written); `window` may be null (nothing is shown).
  explicit CLoggedProgress(CLogFile& file, engine::InstallProgress* window = nullptr)
      : file_(file), window_(window) {}

  void setStatus(const std::wstring& text) override;
  void setStatusPath(const std::wstring& text) override;
  void appendLog(const std::wstring& text, bool banner = false) override;
  // The window's owner; null without a window.
  HWND ownerWindow() const override;
  void startProgress() override;
  void setProgress(std::uint64_t done, std::uint64_t total) override;

  // The last status text the run showed (the failure, after a failed run).
  const std::wstring& status() const noexcept { return status_; }

  // Ends the run's lines in the file: "Installation is complete." after a completed run, the
  // failure's status line otherwise.
  void logOutcome(bool installed);

 private:
  CLogFile& file_;
  engine::InstallProgress* window_;
  std::wstring status_;
};

// Runs the install sequence with the /LOG file of `app` following it: the summary of the
// settings, every line as it comes, then the outcome, also when an exception ends the run (it
// travels on). `window` shows the run as well; null for an unattended run.
bool RunLoggedInstall(CInstallApp& app, InstalledPrograms& programs,
                      engine::InstallProgress* window);
