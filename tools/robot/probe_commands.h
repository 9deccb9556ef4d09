// robot.exe's commands that ask robot_probe.dll, loaded into the program that owns a window
// through a hook on the window's thread, to look at that window from inside: the fit check of its
// texts and the picture check of its pictures. Each prints what the probe wrote into the robot's
// shared memory (see robot.cpp's header for the lines) and throws robot_output::command_failed
// when the probe cannot be asked or does not answer, and the fit check when a text does not fit.
#pragma once

#include <windows.h>

namespace probe_commands {

void fit_check(HWND window);
void picture_check(HWND window);

}  // namespace probe_commands
