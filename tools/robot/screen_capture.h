// robot.exe's screenshots: the pixels of a window's screen area once it has painted, saved as a
// 24-bit BMP file.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace screen_capture {

// The pixels of a screen area as a bottom-up 24-bit DIB, rows padded to four bytes.
struct screen_picture {
  BITMAPINFOHEADER header{};
  std::vector<char> bits;
};

// The pixels of `area` (screen coordinates); command_failed when it is empty or cannot be read.
screen_picture capture_screen_area(const RECT& area);
// Writes the picture as a BMP file; command_failed when the file cannot be written.
void save_bmp(const screen_picture& picture, const std::wstring& file);
// The window as it shows once it has painted: its thread has answered a message, everything is
// repainted, and two captures a moment apart agree (at most a few seconds of waiting).
screen_picture painted_window(HWND window);

}  // namespace screen_capture
