// The wait cursor shown while the installer works on the user-interface thread: the hourglass
// appears on construction and the previous cursor comes back on destruction. Nested scopes keep
// the hourglass until the outermost one ends.
#pragma once

#include <windows.h>

namespace ui {

class wait_cursor {
 public:
  wait_cursor() noexcept;
  ~wait_cursor();
  wait_cursor(const wait_cursor&) = delete;
  wait_cursor& operator=(const wait_cursor&) = delete;

  // Shows the hourglass again after something (a message box) replaced it.
  void restore() noexcept;
  // Number of wait cursors alive on this thread.
  static int depth() noexcept;

 private:
  HCURSOR previous_;
};

}  // namespace ui
