#include "run/startup_report.h"

#include <string>

#include "nv/fatal_error.h"

namespace {
constexpr UINT kExitCode = 1144;
}  // namespace

LocalText SystemErrorText(DWORD code) {
  return [code] { return nv::error_text(code); };
}

int CStartupReport::refuse(const LocalText& text, int exitCode, const std::wstring& boxOnly) {
  noteOutcome(text);
  if (unattended_) return exitCode;
  const std::wstring shown = text();
  nv::message_box(boxOnly.empty() ? shown : shown + L"\r\n\r\n" + boxOnly,
                  MB_OK | MB_ICONEXCLAMATION);
  return boxExitCode_.value_or(exitCode);
}

void CStartupReport::tell(const std::wstring& text, UINT type) {
  note(text);
  if (!unattended_) nv::message_box(text, type);
}

void CStartupReport::noteExitCode(int exitCode) {
  log_.writeLine(
      inEnglish([exitCode] { return formatLocalized(kExitCode, {std::to_wstring(exitCode)}); }));
}
