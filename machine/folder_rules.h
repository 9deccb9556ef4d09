// Which folders an installation may use, one rule for both programs: the installer refuses an
// installation or Start-menu folder that its uninstaller would refuse to remove from, and the
// uninstaller names the same reason when a log names such a folder. An installation folder must
// be a full path with a drive letter, without "." or ".." elements, that is no folder of the
// system and holds none (a drive's root holds them all); a Start-menu folder must also lie below
// a Start menu.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace engine {

// The folders the machine names, looked up once by machineFolders(); tests fill their own.
struct MachineFolders {
  std::wstring commonAppData;   // all-users application data
  std::wstring userAppData;     // the current user's application data
  std::wstring commonDesktop;   // all-users desktop
  std::wstring userDesktop;     // the current user's desktop
  std::vector<std::wstring> startMenus;  // all-users and the user's Start menu
  // Folders of the system that no place may be, or contain (Windows, Program Files, ...).
  std::vector<std::wstring> systemFolders;
};

const MachineFolders& machineFolders();

// Replaces what machineFolders() answers (nothing: the machine's own again); returns the previous
// replacement. Tests lay out a machine of their own in private folders.
std::optional<MachineFolders> ReplaceMachineFolders(std::optional<MachineFolders> folders);

// Why a folder is not taken as an installation's place.
enum class PlaceRefusal {
  none,
  notOwnFolder,       // the uninstaller's log names another folder than the uninstaller's own
  notFullPath,        // no drive letter, or a "." or ".." element
  notBelowStartMenu,  // a Start-menu folder elsewhere
  systemFolder,       // a folder of the system, or one that holds one
};

// The elements of `path` after its drive ("C:\a\b" gives a and b); nothing when `path` does not
// start with a drive letter, a colon and a separator.
std::optional<std::vector<std::wstring>> driveElements(const std::wstring& path);

// True when an element is "." or "..".
bool hasDotElement(const std::vector<std::wstring>& elements);

PlaceRefusal judgeInstallFolder(const std::wstring& folder, const MachineFolders& machine);
PlaceRefusal judgeMenuFolder(const std::wstring& folder, const MachineFolders& machine);

// The reason in the current language, naming `folder`; empty for none and notOwnFolder, which
// the uninstaller words itself.
std::wstring describePlaceRefusal(PlaceRefusal refusal, const std::wstring& folder);

}  // namespace engine
