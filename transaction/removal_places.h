// Where the uninstaller may remove anything, and where an installation's undo may change
// anything: the same rules for both, so that a journal or a log that was tampered with reaches no
// further than the installation's own places. The uninstall log is read from the installation
// folder, but its records may have come from logs found elsewhere (an installer merges the log it
// finds beside itself), so the elevated uninstaller judges every path before it touches it: each
// kind of record has its own places, a place must be a folder an installation really writes to,
// and a path outside them, with a "." or ".." element, or with a link on the way is refused.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "machine/folder_rules.h"
#include "transaction/install_journal.h"

namespace engine {

// The places of one uninstallation; an empty member is no place at all.
struct RemovalPlaces {
  std::wstring installFolder;    // the log's "Install Path", when it is the uninstaller's folder
  std::wstring menuFolder;       // the log's "Shortcut Path", when it lies below a Start menu
  std::wstring makerDataFolder;  // all-users application data\Nuvelle
  std::wstring userMakerFolder;  // the user's application data\Nuvelle (created folders only)
  std::wstring commonDesktop;
  std::wstring userDesktop;
  // The folders above the install and menu folders that the folder rules would accept as such a
  // folder themselves: an installation may have created them on the way, and a created one goes
  // when it is empty.
  std::vector<std::wstring> createdAbove;
};

struct PlacesResult {
  RemovalPlaces places;
  PlaceRefusal installRefusal = PlaceRefusal::none;
  PlaceRefusal menuRefusal = PlaceRefusal::none;
};

// The places for a log whose header names `logInstallFolder` and `logMenuFolder`, read by an
// uninstaller that runs from `ownFolder`. The install folder counts only when it is the
// uninstaller's own folder; each only when the folder rules accept it (folder_rules.h).
PlacesResult placesFor(const std::wstring& logInstallFolder, const std::wstring& logMenuFolder,
                       const std::wstring& ownFolder, const MachineFolders& machine);

enum class PathVerdict {
  allowed,
  outside,        // not below a place of its kind, or not a full path with a drive letter
  parentElement,  // a "." or ".." element
  linkOnTheWay,   // a junction or symbolic link between the place and the path
};

// The verdict on removing `path` for a record of `kind` (`payloadKind` for installed files):
// installed program files below the install folder; shared data there or below the maker's data
// folders; example files in the install folder, below the maker's
// application data or on the all-users desktop; shortcuts in the menu folder or on a desktop;
// created folders below any place, the maker's folder ("Nuvelle") that holds the install or
// menu folder, or a folder of createdAbove. The path itself may be a link: it is removed as a link, never followed.
// `place`, when given, receives for an allowed path the folder below which it must still lie when
// it is removed: the place that allowed it, or for a place itself (or the maker's folder) the
// folder that holds it; empty for any other verdict.
PathVerdict judgePath(const RemovalPlaces& places, RecordKind kind, int payloadKind,
                      const std::wstring& path, std::wstring* place = nullptr);

}  // namespace engine
