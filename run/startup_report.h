// How a program's start-up tells what stops it or what it met: a message box in a run with a
// window, nothing on screen in an unattended run (whose exit code names the reason), and the
// text as a line of the /LOG file in both. What ends the run and its exit code reach the file in
// English, whatever language the program speaks, for the tools that read the logs of many
// machines. The installer and the uninstaller start up this way.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "run/log_file.h"
#include "localization/languages.h"

// The system's text for `code` (nv::error_text), formatted when used.
LocalText SystemErrorText(DWORD code);

class CStartupReport {
 public:
  // `boxExitCode`: what a refusal shown in a box ends with; without it, the refusal's own code.
  CStartupReport(CLogFile& log, bool unattended, std::optional<int> boxExitCode = std::nullopt)
      : log_(log), unattended_(unattended), boxExitCode_(boxExitCode) {}

  bool unattended() const noexcept { return unattended_; }

  // Ends start-up for the reason `text` (the run's outcome); `boxOnly` is added to the box's
  // text after an empty line. Returns the exit code: `exitCode`, or after a box the box's exit
  // code when one is set.
  int refuse(const LocalText& text, int exitCode, const std::wstring& boxOnly = {});
  // Something the person who started the program should know: a box of `type` in a run with a
  // window, the log's line in both.
  void tell(const std::wstring& text, UINT type);
  // A line for the log only.
  void note(const std::wstring& text) { log_.writeLine(text); }
  // The line that tells how the run ended, for the log only.
  void noteOutcome(const LocalText& text) { log_.writeOutcome(inEnglish(text)); }
  // The log's last line: "Exit code: N.".
  void noteExitCode(int exitCode);

 private:
  CLogFile& log_;
  bool unattended_;
  std::optional<int> boxExitCode_;
};
