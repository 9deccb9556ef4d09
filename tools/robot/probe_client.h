// The robot's side of robot_probe.dll: has the probe, loaded into the program that owns a window
// through a hook on the window's thread, look at that window, and hands back what the probe wrote
// into the robot's shared memory: the fit check's text measurements or the picture check's
// pictures.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "tools/robot/fit_probe.h"
#include "tools/robot/picture_probe.h"

namespace probe_client {

// The probe could not be asked, or did not answer; `reason` says which.
struct failure {
  std::wstring reason;
};

// The probe's measurements of the texts of `window`. Throws failure.
std::unique_ptr<fit_probe::report> measure_texts(HWND window);

// The probe's report of the pictures of `window`. Throws failure.
std::unique_ptr<picture_probe::report> measure_pictures(HWND window);

}  // namespace probe_client
