// A hidden top-level window that page tests create their pages in, destroyed with the fixture.
#pragma once

#include <windows.h>

struct host_window {
  HWND hwnd = ::CreateWindowExW(0, L"Static", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400,
                                nullptr, nullptr, nullptr, nullptr);
  host_window() = default;
  host_window(const host_window&) = delete;
  host_window& operator=(const host_window&) = delete;
  ~host_window() {
    if (hwnd) ::DestroyWindow(hwnd);
  }
};
