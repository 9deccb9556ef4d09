// What an install step may tell the person watching: the status line, the progress log, the
// progress bar, and the window that owns whatever the step shows. The Progress page implements
// it; an unattended installation implements it without a window; tests record it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace engine {

class InstallProgress {
 public:
  virtual ~InstallProgress() = default;
  virtual void setStatus(const std::wstring& text) = 0;
  // A status text that ends in a path: shortened to the status line the way a path is.
  virtual void setStatusPath(const std::wstring& text) { setStatus(text); }
  // Appends `text` unchanged, or as a line of dashes enclosing it when `banner` (or it is empty).
  virtual void appendLog(const std::wstring& text, bool banner = false) = 0;
  // The status naming the failure the run ends with, as `text` formats it in the run's language;
  // a /LOG file gets it in English as the run's outcome.
  virtual void setFailure(const std::function<std::wstring()>& text) { setStatus(text()); }
  // The line that tells how the run ended, as status and log line; a /LOG file gets it in
  // English.
  virtual void appendOutcome(const std::function<std::wstring()>& text) {
    const std::wstring line = text();
    setStatus(line);
    appendLog(line + L"\r\n");
  }
  // The window that owns the DirectX setup and the desktop lookup; null when there is none.
  virtual HWND ownerWindow() const = 0;
  // The progress bar at 0 and shown, when a run starts.
  virtual void startProgress() {}
  // The progress bar at `done` of `total` bytes.
  virtual void setProgress(std::uint64_t /*done*/, std::uint64_t /*total*/) {}
};

}  // namespace engine
