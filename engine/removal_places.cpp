#include "engine/removal_places.h"

#include <windows.h>
#include <shlobj.h>

#include <cwctype>
#include <string_view>
#include <utility>

#include "engine/path_tokens.h"
#include "engine/same_path.h"
#include "nv/fixed_path.h"
#include "nv/link_check.h"

namespace engine {

namespace {

 

// The maker's folder name, the parent of the default install and menu folders.
constexpr std::wstring_view kMakerFolder = L"Nuvelle";

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The elements of `path` after its drive ("C:"); nothing when it is not "X:\...".
bool splitDrivePath(const std::wstring& path, std::vector<std::wstring>& elements) {
  if (path.size() < 3 || !std::iswalpha(path[0]) || path[1] != L':' || !isSeparator(path[2]))
    return false;
  std::wstring element;
  for (std::size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || isSeparator(path[i])) {
      if (!element.empty()) elements.push_back(std::move(element));
      element.clear();
    } else {
      element += path[i];
    }
  }
  return true;
}

bool hasDotElement(const std::vector<std::wstring>& elements) {
  for (const auto& element : elements)
    if (element == L"." || element == L"..") return true;
  return false;
}

bool sameFolder(const std::wstring& a, const std::wstring& b) {
  return !a.empty() && !b.empty() && SamePath(a, b);
}

// True when `place` is one of the system's folders or holds one: removing below it could reach
// the system. A drive's root holds them all.
bool isSystemPlace(const std::wstring& place, const MachineFolders& machine) {
  std::vector<std::wstring> elements;
  if (!splitDrivePath(place, elements) || elements.empty() || hasDotElement(elements)) return true;
  for (const auto& folder : machine.systemFolders) {
    if (folder.empty()) continue;
    if (sameFolder(place, folder) || nv::is_below(place, folder)) return true;
  }
  return false;
}

// The place itself must not be a link: everything below it would then lie elsewhere.
bool placeIsLink(const std::wstring& place) { return nv::is_link(nv::facts_of(place)); }

std::wstring specialFolder(int csidl) { return system_folder(csidl); }

// The folder that holds `path`, without separators at its end.
std::wstring folderHolding(const std::wstring& path) {
  return nv::fixed_path::remove_file_spec(nv::fixed_path::remove_backslash(path));
}

// The verdict for `path` below one of `places` (empty ones skipped); `orEqual` admits a place
// itself. For an allowed path `admitting` receives the place that allowed it, or for a place
// itself the folder that holds it.
PathVerdict below(const std::vector<const std::wstring*>& places, const std::wstring& path,
                  bool orEqual, std::wstring& admitting) {
  for (const std::wstring* place : places) {
    if (place->empty()) continue;
    const bool equal = orEqual && sameFolder(*place, path);
    if (!equal && !nv::is_below(*place, path)) continue;
    if (placeIsLink(*place)) return PathVerdict::linkOnTheWay;
    if (equal) {
      admitting = folderHolding(path);
      return PathVerdict::allowed;
    }
    // The elements between the place and the path's own folder; the path itself may be a link.
    const std::wstring parent = nv::fixed_path::remove_file_spec(path);
    if (!sameFolder(*place, parent) && !nv::first_link_below(*place, parent).empty())
      return PathVerdict::linkOnTheWay;
    admitting = *place;
    return PathVerdict::allowed;
  }
  return PathVerdict::outside;
}

// The maker's folder that directly holds `place`; empty when its parent has another name.
std::wstring makerFolderAbove(const std::wstring& place) {
  if (place.empty()) return {};
  const std::wstring parent = nv::fixed_path::remove_file_spec(place);
  if (parent.empty() || parent == place) return {};
  return _wcsicmp(nv::fixed_path::file_name(parent).c_str(), std::wstring(kMakerFolder).c_str()) == 0
             ? parent
             : std::wstring();
}

bool endsWithLinkExtension(const std::wstring& path) {
  constexpr std::wstring_view extension = L".lnk";
  return path.size() > extension.size() &&
         _wcsicmp(path.c_str() + path.size() - extension.size(), extension.data()) == 0;
}

}  // namespace

namespace {

std::optional<MachineFolders>& replacedFolders() {
  static std::optional<MachineFolders> folders;
  return folders;
}

}  // namespace

std::optional<MachineFolders> ReplaceMachineFolders(std::optional<MachineFolders> folders) {
  return std::exchange(replacedFolders(), std::move(folders));
}

const MachineFolders& machineFolders() {
  if (replacedFolders()) return *replacedFolders();
  static const MachineFolders folders = [] {
    MachineFolders result;
    result.commonAppData = specialFolder(CSIDL_COMMON_APPDATA);
    result.userAppData = specialFolder(CSIDL_APPDATA);
    result.commonDesktop = specialFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
    result.userDesktop = specialFolder(CSIDL_DESKTOPDIRECTORY);
    for (int csidl : {CSIDL_COMMON_STARTMENU, CSIDL_STARTMENU})
      if (auto folder = specialFolder(csidl); !folder.empty()) result.startMenus.push_back(folder);
    for (int csidl : {CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILES_COMMON,
                      CSIDL_COMMON_APPDATA, CSIDL_PROFILE, CSIDL_COMMON_DOCUMENTS,
                      CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS,
                      CSIDL_PROGRAMS, CSIDL_COMMON_STARTMENU, CSIDL_STARTMENU, CSIDL_APPDATA,
                      CSIDL_LOCAL_APPDATA})
      if (auto folder = specialFolder(csidl); !folder.empty())
        result.systemFolders.push_back(folder);
    // The profiles' parent (C:\Users) is named by no CSIDL of its own.
    const std::wstring profile = specialFolder(CSIDL_PROFILE);
    if (!profile.empty()) result.systemFolders.push_back(nv::fixed_path::remove_file_spec(profile));
    return result;
  }();
  return folders;
}

PlacesResult placesFor(const std::wstring& logInstallFolder, const std::wstring& logMenuFolder,
                       const std::wstring& ownFolder, const MachineFolders& machine) {
  PlacesResult result;
  RemovalPlaces& places = result.places;
  if (!logInstallFolder.empty()) {
    if (!sameFolder(logInstallFolder, ownFolder))
      result.installRefusal = PlaceRefusal::notOwnFolder;
    else if (isSystemPlace(logInstallFolder, machine))
      result.installRefusal = PlaceRefusal::systemFolder;
    else
      places.installFolder = logInstallFolder;
  }
  if (!logMenuFolder.empty()) {
    bool belowStartMenu = false;
    for (const auto& menu : machine.startMenus)
      belowStartMenu = belowStartMenu || nv::is_below(menu, logMenuFolder);
    if (!belowStartMenu)
      result.menuRefusal = PlaceRefusal::notBelowStartMenu;
    else if (isSystemPlace(logMenuFolder, machine))
      result.menuRefusal = PlaceRefusal::systemFolder;
    else
      places.menuFolder = logMenuFolder;
  }
  if (!machine.commonAppData.empty())
    places.makerDataFolder = nv::fixed_path::append(machine.commonAppData, kMakerFolder);
  if (!machine.userAppData.empty())
    places.userMakerFolder = nv::fixed_path::append(machine.userAppData, kMakerFolder);
  places.commonDesktop = machine.commonDesktop;
  places.userDesktop = machine.userDesktop;
  return result;
}

PathVerdict judgePath(const RemovalPlaces& places, RecordKind kind, int payloadKind,
                      const std::wstring& path, std::wstring* admittedBy) {
  // Set only for an allowed path.
  std::wstring unused;
  std::wstring& admitting = admittedBy ? *admittedBy : unused;
  admitting.clear();
  std::vector<std::wstring> elements;
  if (!splitDrivePath(path, elements) || elements.empty()) return PathVerdict::outside;
  if (hasDotElement(elements)) return PathVerdict::parentElement;

  switch (kind) {
    case RecordKind::InstalledFile:
      if (payloadKind == 4)  // an example project
        return below({&places.installFolder, &places.makerDataFolder, &places.commonDesktop}, path,
                     false, admitting);
      if (payloadKind == 3)  // shared data: the maker's data folders
        return below({&places.installFolder, &places.makerDataFolder, &places.userMakerFolder},
                     path, false, admitting);
      return below({&places.installFolder}, path, false, admitting);
    case RecordKind::MenuShortcut:
    case RecordKind::UninstallShortcut:
    case RecordKind::DesktopShortcut:
      if (!endsWithLinkExtension(path)) return PathVerdict::outside;
      return below({&places.menuFolder, &places.commonDesktop, &places.userDesktop}, path, false,
                   admitting);
    case RecordKind::CreatedFolder: {
      const PathVerdict verdict =
          below({&places.installFolder, &places.menuFolder, &places.makerDataFolder,
                 &places.userMakerFolder, &places.commonDesktop, &places.userDesktop},
                path, true, admitting);
      if (verdict != PathVerdict::outside) return verdict;
      // The maker's folder above the install or menu folder: only ever removed when empty.
      for (const std::wstring* place : {&places.installFolder, &places.menuFolder}) {
        const std::wstring maker = makerFolderAbove(*place);
        if (sameFolder(maker, path)) {
          admitting = folderHolding(path);
          return PathVerdict::allowed;
        }
      }
      return PathVerdict::outside;
    }
    default:
      return PathVerdict::outside;
  }
}

}  // namespace engine
