#include "steps/shortcuts.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "localization/languages.h"
#include "nv/com_ptr.h"
#include "machine/machine_folders.h"
#include "nv/fixed_path.h"
#include "nv/product.h"

namespace engine {
namespace {

// The target's file name without its extension; empty when the target names no file.
std::wstring StemOf(const std::wstring& target) {
  std::wstring name = nv::fixed_path::file_name(target);
  if (name.empty() || name.find_first_of(L"\\/") != std::wstring::npos) return {};
  name.erase(static_cast<std::size_t>(::PathFindExtensionW(name.c_str()) - name.c_str()));
  return name;
}

// Writes the link through the shell link object; the result of the last COM call that decides.
HRESULT SaveLink(const std::wstring& target, const std::wstring& workingDirectory,
                 const std::wstring& link) {
  nv::com_apartment apartment;
  if (!apartment.entered()) return apartment.result();
  nv::com_ptr<IShellLinkW> shellLink;
  HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IShellLinkW, shellLink.put_void());
  if (FAILED(hr)) return hr;
  // A link whose target or folder was refused would open nothing: that is no success.
  hr = shellLink->SetPath(target.c_str());
  if (FAILED(hr)) return hr;
  hr = shellLink->SetWorkingDirectory(workingDirectory.c_str());
  if (FAILED(hr)) return hr;
  nv::com_ptr<IPersistFile> file;
  hr = shellLink->QueryInterface(IID_IPersistFile, file.put_void());
  if (FAILED(hr)) return hr;
  return file->Save(link.c_str(), TRUE);
}

// One shortcut as one journal operation: Begin, create, End with the link or with failure.
bool JournaledShortcut(CInstallJournal& journal, int which, const std::wstring& folder,
                       const std::wstring& target, const std::wstring& name) {
  // A link in the way below the all-users Start menu or the public desktop: no folder is made,
  // nothing moved and no link saved through it.
  if (refuse_links(folder)) return false;
  journal.BeginShortcut(which, folder);
  std::wstring link;
  // The link's path is written ahead before the link is saved.
  const bool created = CreateShortcut(target, folder, name.c_str(), &link,
                                      [&journal](const std::wstring& path) { journal.PlanPath(path); });
  journal.EndOperation(created, created ? link.c_str() : nullptr);
  return created;
}

}  // namespace

bool CreateShortcut(const std::wstring& target, const std::wstring& folder, const wchar_t* name,
                    std::wstring* linkPath,
                    const std::function<void(const std::wstring&)>& beforeSave) {
  const std::wstring cutTarget = nv::fixed_path::cut(target);
  const std::wstring workingDirectory = nv::fixed_path::remove_file_spec(cutTarget);
  // Nothing taken away (a root), or nothing left (a bare file name): the target has no folder.
  if (workingDirectory == cutTarget || workingDirectory.empty()) return false;

  const std::wstring linkName = name ? std::wstring(name) : StemOf(target);
  // An empty name would put "<folder>.lnk" beside the folder instead of a link inside it, and a
  // relative folder would put the link wherever the current directory happens to be.
  if (linkName.empty() || folder.empty() || ::PathIsRelativeW(nv::fixed_path::cut(folder).c_str()))
    return false;

  std::wstring link = nv::fixed_path::append(folder, linkName);
  if (link.empty()) return false;
  link += L".lnk";

  if (beforeSave) beforeSave(link);
  if (FAILED(SaveLink(target, workingDirectory, link))) return false;
  if (linkPath) *linkPath = std::move(link);
  return true;
}

std::wstring ShellSpecialFolder(HWND owner, int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (!::SHGetSpecialFolderPathW(owner, path, csidl, FALSE)) return {};
  return path;
}

std::wstring DesktopFolder(HWND owner, const SpecialFolderLookup& lookup) {
  std::wstring folder = lookup(owner, CSIDL_COMMON_DESKTOPDIRECTORY);
  if (folder.empty()) folder = lookup(owner, CSIDL_DESKTOPDIRECTORY);
  return folder;
}

bool CreateShortcuts(CInstallJournal& journal, InstallProgress& progress,
                     const ShortcutChoices& choices, const std::wstring& mainProgramPath,
                     const std::wstring& uninstallerPath, const SpecialFolderLookup& lookup) {
  if (!choices.createMenuShortcut && !choices.createDesktopShortcut) return true;

  const std::wstring caption = localizedString(1117);
  progress.setStatus(caption);
  progress.appendLog(caption);
  bool outcome = true;

  const std::wstring programName = nv::product_label(false);
  if (choices.createMenuShortcut) {
    outcome &= JournaledShortcut(journal, 0, choices.menuFolder, mainProgramPath, programName);
    const std::wstring uninstallName = formatLocalized(1013, {nv::product_label(true)});
    outcome &= JournaledShortcut(journal, 1, choices.menuFolder, uninstallerPath, uninstallName);
  }
  if (choices.createDesktopShortcut) {
    const std::wstring desktop = DesktopFolder(progress.ownerWindow(), lookup);
    // Without a desktop folder there is nowhere to put the link: no operation, a failed step.
    if (desktop.empty())
      outcome = false;
    else
      outcome &= JournaledShortcut(journal, 2, desktop, mainProgramPath, programName);
  }

  progress.appendLog(localizedString(outcome ? 1011 : 1012) + L"\r\n");
  return outcome;
}

}  // namespace engine
