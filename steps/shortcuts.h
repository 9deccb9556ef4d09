// Shell links into the installed product: one function that writes a single ".lnk" file, and
// the install step that creates the program and uninstall shortcuts in the Start-menu folder and
// the program shortcut on the desktop, each as one operation of the journal.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "transaction/install_journal.h"
#include "steps/install_progress.h"

namespace engine {

// Writes the link `folder`\`name`.lnk to `target`, with the target's folder as working
// directory. A null `name` takes the target's file name without its extension. True when the
// link file was saved; then `linkPath` (when given) receives its full path, otherwise it is left
// unchanged. An empty name or a folder that is not an absolute path is refused. `beforeSave`, when
// given, is told the link's full path just before the link is saved.
bool CreateShortcut(const std::wstring& target, const std::wstring& folder, const wchar_t* name,
                    std::wstring* linkPath = nullptr,
                    const std::function<void(const std::wstring&)>& beforeSave = {});

// The shortcut choices of the installation settings.
struct ShortcutChoices {
  bool createMenuShortcut = false;
  bool createDesktopShortcut = false;
  std::wstring menuFolder;
};

// Looks up a special folder by CSIDL for an owner window; empty when it cannot be obtained.
using SpecialFolderLookup = std::function<std::wstring(HWND owner, int csidl)>;

// SHGetSpecialFolderPathW without creating the folder; empty on failure.
std::wstring ShellSpecialFolder(HWND owner, int csidl);

// The all-users desktop folder, else the user's own; empty when neither can be obtained.
std::wstring DesktopFolder(HWND owner, const SpecialFolderLookup& lookup = ShellSpecialFolder);

// The shortcut step. Does nothing (and returns true) unless a shortcut was chosen; otherwise
// shows and logs its caption, creates the chosen shortcuts through `journal` (BeginShortcut,
// then EndOperation with the link path or with failure) and logs "OK" or "Failed" with CR LF.
// Returns the step's outcome. When no desktop folder can be obtained the desktop shortcut is not
// attempted (no journal record) and the step fails; a failure never stops the installation.
bool CreateShortcuts(CInstallJournal& journal, InstallProgress& progress,
                     const ShortcutChoices& choices, const std::wstring& mainProgramPath,
                     const std::wstring& uninstallerPath,
                     const SpecialFolderLookup& lookup = ShellSpecialFolder);

}  // namespace engine
