// The last part of an uninstallation, after the uninstaller has ended: a running program cannot
// remove its own executable, nor the installation folder that holds it. The uninstaller copies
// itself into a fresh protected folder under the temporary folder and starts the copy as the
// finisher; the finisher waits until the uninstaller has ended, removes the executable and the
// emptied folders, and has itself and its folder removed at the next restart. So the removal
// needs no restart of its own, and the exit code of the uninstaller stays the run's.
#pragma once

#include <windows.h>

#include <string>
#include <system_error>
#include <vector>

namespace uninstaller {

// The option that starts the finisher: /FINISH=<handle of the uninstaller's process>, then the
// paths to remove in order.
inline constexpr wchar_t kFinishOption[] = L"/FINISH=";

// Copies the running executable `ownExecutable` into a new protected folder and starts it as the
// finisher for `paths` (files, then the folders that hold them).
std::error_code StartFinisher(const std::wstring& ownExecutable,
                              const std::vector<std::wstring>& paths);

// The finisher's work for the arguments that follow the program's name: waits (at most a minute)
// for the process of the handle to end, removes each path (a file, or a folder when empty, never
// through a link), then schedules `ownExecutable` and its folder for removal at restart. Returns
// the exit code: 0, or 87 when the arguments are not a finisher's.
int RunFinisher(const std::vector<std::wstring>& arguments, const std::wstring& ownExecutable);

}  // namespace uninstaller
