// The application object: the one object of the program whose InitInstance is the entry of the
// program's own logic. The program's entry runs it; when InitInstance returns, the program ends
// (there is no other main loop). The object also names the application (the caption of every
// message box) and knows the main window, and binds the support library's message boxes to both.
#pragma once

#include <windows.h>

#include <string>

#include "nv/ui_hooks.h"

namespace ui {

class application {
 public:
  // Becomes the process's application object (the latest constructed one while it lives).
  application();
  virtual ~application();
  application(const application&) = delete;
  application& operator=(const application&) = delete;

  // The program's own logic. Its result is the exit code's source: FALSE ends with exit_code().
  virtual BOOL InitInstance();

  // Calls InitInstance and returns the process exit code (exit_code() when it returned FALSE, 1
  // when it returned TRUE: a program that has nothing left to run after InitInstance).
  int Run();

  // The code the process ends with when InitInstance returns FALSE; 0 unless set.
  int exit_code() const noexcept { return exit_code_; }
  void set_exit_code(int code) noexcept { exit_code_ = code; }

  const std::wstring& name() const noexcept { return name_; }
  void set_name(std::wstring name);

  HWND main_window() const noexcept { return main_window_; }
  void set_main_window(HWND window) noexcept;

  // The application object, or null when none exists.
  static application* instance() noexcept;

 private:
  std::wstring name_;
  HWND main_window_ = nullptr;
  int exit_code_ = 0;
  application* previous_;
  nv::ui_hooks previous_hooks_;
};

// Entry for the program's WinMain: runs the application object (exit code 2 when there is none,
// or when InitInstance let an exception escape).
int run_application() noexcept;

}  // namespace ui
