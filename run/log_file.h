// The /LOG file: the progress log of the installer or the uninstaller written to a file as UTF-8
// with CR LF line breaks, every line starting with its local time stamp ("2026-12-11
// 03:20:27.123 "), appended to what is already there. Every piece of text is written with
// its own write as it comes, so that a run that is killed still leaves what it had logged. Both
// programs run elevated and the path comes from the command line: the file is never reached
// through a link that a user could have placed.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

#include "nv/unique_handle.h"

class CLogFile {
 public:
  // How many characters a banner line has, dashes and enclosed text together.
  static constexpr std::size_t bannerWidth = 72;

  // Opens `path` for appending, creating the file when it is missing; others may read and append
  // meanwhile. Refused with ERROR_CANT_ACCESS_FILE when the path runs through a link below a
  // folder every user can write to, or when the file itself is a link or has a second name.
  std::error_code Open(const std::wstring& path);
  bool isOpen() const noexcept { return static_cast<bool>(file_); }

  // Appends `text`, every line break as CR LF; does nothing when no file is open. A failed write
  // is passed over: the log never stops the installation.
  void write(std::wstring_view text);
  // `text` and a line break.
  void writeLine(std::wstring_view text);
  // The line that tells how the run ended; a program that ends unexpectedly writes one only when
  // none has been written yet.
  void writeOutcome(std::wstring_view text) {
    outcomeWritten_ = true;
    writeLine(text);
  }
  bool outcomeWritten() const noexcept { return outcomeWritten_; }
  // For an outcome line that reached the file through the progress log.
  void outcomeIsWritten() noexcept { outcomeWritten_ = true; }
  // bannerLine(text) and a line break.
  void writeBanner(std::wstring_view text);
  // As the progress log takes it: a banner when `banner` is set or `text` is empty, else `text`.
  void append(std::wstring_view text, bool banner);

  // `text` enclosed in single blanks between dashes, bannerWidth characters in all (more when
  // the text is longer); only dashes when `text` is empty.
  static std::wstring bannerLine(std::wstring_view text);

 private:
  nv::unique_handle file_;
  bool outcomeWritten_ = false;
  bool atLineStart_ = true;  // the next character begins a line, which gets its time stamp
};
