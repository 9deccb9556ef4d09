// What robot.exe and its probe library share for the picture check: the message that asks the
// probe to look at a window's pictures, and the shared memory it writes them into. The probe
// reports the bitmaps of static controls (the side picture) with their places, the icons of
// static controls, the window's large icon, the etched separator lines, and for every image of a
// ComboBoxEx's image list the icon resource and the sizes of its images that make it: each image
// of each icon of the program is made into an image of the same size and kind (from its own
// bytes, so that the list cannot swap in another size of the icon) and the pixels compared. A
// simple picture (stripes) may come out alike from several sizes.
#pragma once

#include <windows.h>

#include <string>

namespace picture_probe {

// The registered message the robot sends the window; wParam is the robot's process id.
inline constexpr wchar_t kMessageName[] = L"nv.robot.picture-check";
inline constexpr int kMaxPictures = 96;
inline constexpr int kMaxSources = 8;

enum class picture_kind : int { none = 0, bitmap, icon, window_icon, separator, list_image };

struct picture {
  picture_kind kind;
  int id;      // the control's id
  int index;   // a list image: its index in the list
  RECT place;  // the control's rectangle relative to the window's top-left corner (as a
               // screenshot of the window shows it)
  SIZE size;   // the image's size; a list image: the list's image size
  int source_id;     // a list image: the icon resource that makes it, 0 when none does
  int source_count;  // a list image: how many of that icon's images make it
  SIZE sources[kMaxSources];  // ... and their sizes
};

// What the probe writes: `state` becomes kWritten once `items` hold `count` pictures (of `seen`;
// fewer when the table is full).
struct report {
  LONG state;
  int count;
  int seen;
  picture items[kMaxPictures];
};

inline constexpr LONG kAsked = 0;
inline constexpr LONG kWritten = 1;

// The shared memory of the robot process `robot_process`.
inline std::wstring mapping_name(DWORD robot_process) {
  return L"Local\\nv-robot-pictures-" + std::to_wstring(robot_process);
}

// Inside the probed program: writes the pictures of `window` into the shared memory of
// `robot_process`.
void report_window(HWND window, DWORD robot_process);

}  // namespace picture_probe
