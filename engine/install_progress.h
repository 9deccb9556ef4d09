// What an install step may tell the person watching: the status line, the progress log, and the
// window that owns whatever the step shows. The Progress page implements it; tests record it.
#pragma once

#include <windows.h>

#include <string>

namespace engine {

class InstallProgress {
 public:
  virtual ~InstallProgress() = default;
  virtual void setStatus(const std::wstring& text) = 0;
  // Appends `text` unchanged, or as a line of dashes enclosing it when `banner` (or it is empty).
  virtual void appendLog(const std::wstring& text, bool banner = false) = 0;
  // The Progress page's window, owner of the DirectX setup and of the desktop lookup.
  virtual HWND ownerWindow() const = 0;
};

}  // namespace engine
