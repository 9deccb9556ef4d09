#include "tools/robot/screen_capture.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tools/robot/robot_output.h"
#include "ui/gdi.h"

namespace screen_capture {

using robot_output::command_failed;
using ui::unique_gdi_object;
using ui::unique_memory_dc;

screen_picture capture_screen_area(const RECT& area) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (width <= 0 || height <= 0) throw command_failed(L"the window has no area");
  ui::window_dc screen(nullptr);
  unique_memory_dc memory(::CreateCompatibleDC(screen.get()));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  unique_gdi_object bitmap(::CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!screen || !memory || !bitmap) throw command_failed(L"no device context for the picture");
  {
    ui::selected_object selected(memory.get(), bitmap.get());
    if (!::BitBlt(memory.get(), 0, 0, width, height, screen.get(), area.left, area.top, SRCCOPY))
      throw command_failed(L"BitBlt from the screen failed");
    ::GdiFlush();
  }
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  info.bmiHeader.biSizeImage = stride * static_cast<DWORD>(height);
  const auto* first = static_cast<const char*>(bits);
  return {info.bmiHeader, std::vector<char>(first, first + info.bmiHeader.biSizeImage)};
}

void save_bmp(const screen_picture& picture, const std::wstring& file) {
  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  header.bfSize = header.bfOffBits + static_cast<DWORD>(picture.bits.size());
  std::ofstream out(std::filesystem::path(file), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(reinterpret_cast<const char*>(&picture.header), sizeof picture.header);
  out.write(picture.bits.data(), static_cast<std::streamsize>(picture.bits.size()));
  if (!out) throw command_failed(L"cannot write " + file);
}

screen_picture painted_window(HWND window) {
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 10000, &ignored);
  ::RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 10000, &ignored);
  RECT area{};
  ::GetWindowRect(window, &area);
  screen_picture last = capture_screen_area(area);
  for (int attempt = 0; attempt < 30; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    screen_picture next = capture_screen_area(area);
    if (next.bits == last.bits) return next;
    last = std::move(next);
  }
  return last;
}

}  // namespace screen_capture
