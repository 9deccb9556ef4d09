// A run's progress as the /LOG file receives it. Every log text goes to the file as it comes (a
// banner as a line of dashes of the file's own width); the last status is kept, so that the run's
// outcome can be named at its end. Given a window's progress (a progress page), it passes
// everything on to it as well; without one it is the whole progress of an unattended run, which
// has no window. The line that tells how the run ended reaches the file in English, whatever
// language the run speaks (the steps keep the run's language). The installer and the
// uninstaller both log their runs this way.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "steps/install_progress.h"
#include "run/log_file.h"
#include "localization/languages.h"

class CLoggedProgress : public engine::InstallProgress {
 public:
  // `file` may be closed (nothing is written); `window` may be null (nothing is shown).
  explicit CLoggedProgress(CLogFile& file, engine::InstallProgress* window = nullptr)
      : file_(file), window_(window) {}

  void setStatus(const std::wstring& text) override;
  void setStatusPath(const std::wstring& text) override;
  void setFailure(const LocalText& text) override;
  void appendOutcome(const LocalText& text) override;
  void appendLog(const std::wstring& text, bool banner = false) override;
  // The window's owner; null without a window.
  HWND ownerWindow() const override;
  void startProgress() override;
  void setProgress(std::uint64_t done, std::uint64_t total) override;

  // The last status text the run showed (the failure, after a failed run).
  const std::wstring& status() const noexcept { return status_; }

  // Ends the run's lines in the file, in English: `completedText` after a completed run, the
  // failure otherwise, unless that failure is the line the run logged last.
  void logOutcome(bool completed, const LocalText& completedText);

 private:
  CLogFile& file_;
  engine::InstallProgress* window_;
  std::wstring status_;
  LocalText failure_;      // formats the failure set last; empty when none was set
  std::wstring partLine_;  // what the log's current line holds so far
  std::wstring lastLine_;  // the last complete line, without its line break
};
