#include "transaction/removal_places.h"

#include <windows.h>

#include <algorithm>
#include <string_view>

#include "machine/same_path.h"
#include "nv/fixed_path.h"
#include "nv/link_check.h"

namespace engine {

namespace {

// The maker's folder name, the parent of the default install and menu folders.
constexpr std::wstring_view kMakerFolder = L"Nuvelle";

bool sameFolder(const std::wstring& a, const std::wstring& b) {
  return !a.empty() && !b.empty() && SamePath(a, b);
}

// The place itself must not be a link: everything below it would then lie elsewhere.
bool placeIsLink(const std::wstring& place) { return nv::is_link(nv::facts_of(place)); }

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

// Adds the folders above `place`, nearest first, up to the first that `judge` refuses as such a
// place (a folder of the system holds every folder above it, a drive's root is one).
void addFoldersAbove(const std::wstring& place,
                     PlaceRefusal (*judge)(const std::wstring&, const MachineFolders&),
                     const MachineFolders& machine, std::vector<std::wstring>& folders) {
  if (place.empty()) return;
  for (std::wstring folder = folderHolding(place);; folder = folderHolding(folder)) {
    const auto elements = driveElements(folder);
    if (!elements || elements->empty() || judge(folder, machine) != PlaceRefusal::none) return;
    folders.push_back(folder);
  }
}

}  // namespace

PlacesResult placesFor(const std::wstring& logInstallFolder, const std::wstring& logMenuFolder,
                       const std::wstring& ownFolder, const MachineFolders& machine) {
  PlacesResult result;
  RemovalPlaces& places = result.places;
  if (!logInstallFolder.empty()) {
    if (!sameFolder(logInstallFolder, ownFolder))
      result.installRefusal = PlaceRefusal::notOwnFolder;
    else
      result.installRefusal = judgeInstallFolder(logInstallFolder, machine);
    if (result.installRefusal == PlaceRefusal::none) places.installFolder = logInstallFolder;
  }
  if (!logMenuFolder.empty()) {
    result.menuRefusal = judgeMenuFolder(logMenuFolder, machine);
    if (result.menuRefusal == PlaceRefusal::none) places.menuFolder = logMenuFolder;
  }
  if (!machine.commonAppData.empty())
    places.makerDataFolder = nv::fixed_path::append(machine.commonAppData, kMakerFolder);
  if (!machine.userAppData.empty())
    places.userMakerFolder = nv::fixed_path::append(machine.userAppData, kMakerFolder);
  places.commonDesktop = machine.commonDesktop;
  places.userDesktop = machine.userDesktop;
  addFoldersAbove(places.installFolder, judgeInstallFolder, machine, places.createdAbove);
  addFoldersAbove(places.menuFolder, judgeMenuFolder, machine, places.createdAbove);
  return result;
}

PathVerdict judgePath(const RemovalPlaces& places, RecordKind kind, int payloadKind,
                      const std::wstring& path, std::wstring* admittedBy) {
  // Set only for an allowed path.
  std::wstring unused;
  std::wstring& admitting = admittedBy ? *admittedBy : unused;
  admitting.clear();
  const auto elements = driveElements(path);
  if (!elements || elements->empty()) return PathVerdict::outside;
  if (hasDotElement(*elements)) return PathVerdict::parentElement;

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
      // A folder the installation created above its folders: only ever removed when empty, and
      // only when neither it nor anything between it and the place is a link.
      for (const std::wstring* place : {&places.installFolder, &places.menuFolder}) {
        if (place->empty() || !nv::is_below(path, *place)) continue;
        if (std::none_of(places.createdAbove.begin(), places.createdAbove.end(),
                         [&](const std::wstring& folder) { return sameFolder(folder, path); }))
          continue;
        if (placeIsLink(path) || !nv::first_link_below(path, *place).empty())
          return PathVerdict::linkOnTheWay;
        admitting = folderHolding(path);
        return PathVerdict::allowed;
      }
      return PathVerdict::outside;
    }
    default:
      return PathVerdict::outside;
  }
}

}  // namespace engine
