// The changes an uninstallation makes to the machine, one operation each: a file or link, an
// empty folder, the uninstall key, the product path value, and the product's own unregistration.
// Nothing here follows a link: a link is removed as the link it is, and a file or folder is
// removed through a handle only while it still lies below the place that allowed it
// (machine/handle_removal.h). A file that is in use is scheduled for removal when the computer
// restarts.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "nv/instance_tracking.h"

namespace uninstaller {

enum class Outcome {
  removed,
  absent,     // nothing was there any more
  scheduled,  // in use: removed when the computer restarts
  notEmpty,   // a folder that still holds something
  linkOnTheWay,  // it no longer lies below its place: refused, nothing touched
  failed,
};

struct StepResult {
  Outcome outcome = Outcome::failed;
  std::error_code error;  // for failed
};

// What to do with a file that another program holds.
enum class WhenInUse { schedule, report };

// Removes the file or link `path` below `place` (empty: exactly where `path` names it), its
// read-only attribute cleared first. A file in use is scheduled for the restart, or with
// WhenInUse::report fails with the system's error.
StepResult RemoveFileOrLink(const std::wstring& path, const std::wstring& place,
                            WhenInUse inUse = WhenInUse::schedule);

// True for the errors of a file that another program holds open or runs.
bool IsInUseError(const std::error_code& error);

// Removes the folder `path` below `place` (as RemoveFileOrLink) when it is empty. A folder that
// holds nothing but things in `scheduled` (paths removed at the next restart) is scheduled after
// them.
StepResult RemoveEmptyFolder(const std::wstring& path, const std::wstring& place,
                             const std::vector<std::wstring>& scheduled);

// Deletes the product's key from the list of installed programs (HKEY_LOCAL_MACHINE).
StepResult RemoveUninstallKey();

// Deletes the product path value under the maker's key, then the maker's key when nothing is
// left in it.
StepResult RemoveProductPath();

// Starts `mainProgram` with " /Unregister /Background" in its own folder and waits for it, with
// `installerMutex` free meanwhile (the product may look for a running installer); its exit code,
// or nothing with the reason in `error` when it could not be started.
std::optional<DWORD> RunUnregistration(const std::wstring& mainProgram,
                                       nv::named_mutex& installerMutex, std::error_code& error);

// The unregistration's command line: the path (in quotes when it holds a blank), then
// " /Unregister /Background".
std::wstring UnregistrationCommandLine(const std::wstring& mainProgram);

}  // namespace uninstaller
