#include "machine/folder_rules.h"

#include <windows.h>
#include <shlobj.h>

#include <cwctype>
#include <utility>

#include "machine/machine_folders.h"
#include "machine/same_path.h"
#include "localization/languages.h"
#include "nv/fixed_path.h"
#include "nv/link_check.h"

namespace engine {

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool sameFolder(const std::wstring& a, const std::wstring& b) {
  return !a.empty() && !b.empty() && SamePath(a, b);
}

// True when `place` is one of the system's folders or holds one: anything below it could reach
// the system. A drive's root holds them all.
bool isSystemPlace(const std::wstring& place, const MachineFolders& machine) {
  const auto elements = driveElements(place);
  if (!elements || elements->empty()) return true;
  for (const auto& folder : machine.systemFolders) {
    if (folder.empty()) continue;
    if (sameFolder(place, folder) || nv::is_below(place, folder)) return true;
  }
  return false;
}

std::optional<MachineFolders>& replacedFolders() {
  static std::optional<MachineFolders> folders;
  return folders;
}

// Messages of the refusals, in the order of PlaceRefusal from notFullPath on.
constexpr UINT kNotFullPathText = 1192;
constexpr UINT kNotBelowStartMenuText = 1191;
constexpr UINT kSystemFolderText = 1190;

}  // namespace

std::optional<std::vector<std::wstring>> driveElements(const std::wstring& path) {
  if (path.size() < 3 || !std::iswalpha(path[0]) || path[1] != L':' || !isSeparator(path[2]))
    return std::nullopt;
  std::vector<std::wstring> elements;
  std::wstring element;
  for (std::size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || isSeparator(path[i])) {
      if (!element.empty()) elements.push_back(std::move(element));
      element.clear();
    } else {
      element += path[i];
    }
  }
  return elements;
}

bool hasDotElement(const std::vector<std::wstring>& elements) {
  for (const auto& element : elements)
    if (element == L"." || element == L"..") return true;
  return false;
}

std::optional<MachineFolders> ReplaceMachineFolders(std::optional<MachineFolders> folders) {
  return std::exchange(replacedFolders(), std::move(folders));
}

const MachineFolders& machineFolders() {
  if (replacedFolders()) return *replacedFolders();
  static const MachineFolders folders = [] {
    MachineFolders result;
    result.commonAppData = system_folder(CSIDL_COMMON_APPDATA);
    result.userAppData = system_folder(CSIDL_APPDATA);
    result.commonDesktop = system_folder(CSIDL_COMMON_DESKTOPDIRECTORY);
    result.userDesktop = system_folder(CSIDL_DESKTOPDIRECTORY);
    for (int csidl : {CSIDL_COMMON_STARTMENU, CSIDL_STARTMENU})
      if (auto folder = system_folder(csidl); !folder.empty()) result.startMenus.push_back(folder);
    for (int csidl : {CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILES_COMMON,
                      CSIDL_COMMON_APPDATA, CSIDL_PROFILE, CSIDL_COMMON_DOCUMENTS,
                      CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS,
                      CSIDL_PROGRAMS, CSIDL_COMMON_STARTMENU, CSIDL_STARTMENU, CSIDL_APPDATA,
                      CSIDL_LOCAL_APPDATA})
      if (auto folder = system_folder(csidl); !folder.empty())
        result.systemFolders.push_back(folder);
    // The profiles' parent (C:\Users) is named by no CSIDL of its own.
    const std::wstring profile = system_folder(CSIDL_PROFILE);
    if (!profile.empty()) result.systemFolders.push_back(nv::fixed_path::remove_file_spec(profile));
    return result;
  }();
  return folders;
}

PlaceRefusal judgeInstallFolder(const std::wstring& folder, const MachineFolders& machine) {
  const auto elements = driveElements(folder);
  if (!elements || hasDotElement(*elements)) return PlaceRefusal::notFullPath;
  if (isSystemPlace(folder, machine)) return PlaceRefusal::systemFolder;
  return PlaceRefusal::none;
}

PlaceRefusal judgeMenuFolder(const std::wstring& folder, const MachineFolders& machine) {
  const auto elements = driveElements(folder);
  if (!elements || hasDotElement(*elements)) return PlaceRefusal::notFullPath;
  bool belowStartMenu = false;
  for (const auto& menu : machine.startMenus)
    belowStartMenu = belowStartMenu || nv::is_below(menu, folder);
  if (!belowStartMenu) return PlaceRefusal::notBelowStartMenu;
  if (isSystemPlace(folder, machine)) return PlaceRefusal::systemFolder;
  return PlaceRefusal::none;
}

std::wstring describePlaceRefusal(PlaceRefusal refusal, const std::wstring& folder) {
  switch (refusal) {
    case PlaceRefusal::notFullPath: return formatLocalized(kNotFullPathText, {folder});
    case PlaceRefusal::notBelowStartMenu: return formatLocalized(kNotBelowStartMenuText, {folder});
    case PlaceRefusal::systemFolder: return formatLocalized(kSystemFolderText, {folder});
    default: return {};
  }
}

}  // namespace engine
