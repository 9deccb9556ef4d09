#include "engine/startup_report.h"

#include "nv/fatal_error.h"

int CStartupReport::refuse(const std::wstring& text, int exitCode, const std::wstring& boxOnly) {
  note(text);
  if (unattended_) return exitCode;
  nv::message_box(boxOnly.empty() ? text : text + L"\r\n\r\n" + boxOnly, MB_OK | MB_ICONEXCLAMATION);
  return boxExitCode_.value_or(exitCode);
}

void CStartupReport::tell(const std::wstring& text, UINT type) {
  note(text);
  if (!unattended_) nv::message_box(text, type);
}
