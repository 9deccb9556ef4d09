#include "transaction/removal_places.h"

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "nv/link_test_support.h"
#include "nv/product_test_support.h"

namespace {

using engine::RecordKind;
using engine::MachineFolders;
using engine::PathVerdict;
using engine::PlaceRefusal;

// A small machine in a temporary folder: system folders, desktops, Start menu, application data
// and an installation with its menu folder, all real folders so that links can be planted.
struct Machine {
  nv_test::temp_folder root;
  std::wstring at(const std::wstring& relative) const { return root.path().wstring() + L"\\" + relative; }

  std::wstring install = at(L"Program Files\\Nuvelle\\Tessaline 7");
  std::wstring menu = at(L"Start Menu\\Programs\\Nuvelle\\Tessaline 7");
  MachineFolders folders;

  Machine() {
    for (const auto* folder : {L"Windows\\System32", L"Program Files\\Nuvelle\\Tessaline 7\\Lang",
                               L"Start Menu\\Programs\\Nuvelle\\Tessaline 7", L"Data\\Nuvelle\\Textures",
                               L"Public Desktop\\Examples", L"User\\Desktop", L"User\\AppData\\Nuvelle"})
      std::filesystem::create_directories(at(folder));
    folders.commonAppData = at(L"Data");
    folders.userAppData = at(L"User\\AppData");
    folders.commonDesktop = at(L"Public Desktop");
    folders.userDesktop = at(L"User\\Desktop");
    folders.startMenus = {at(L"Start Menu")};
    folders.systemFolders = {at(L"Windows"), at(L"Windows\\System32"), at(L"Program Files"),
                             at(L"Data"), at(L"Start Menu\\Programs")};
  }

  engine::RemovalPlaces places() const {
    return engine::placesFor(install, menu, install, folders).places;
  }
};

struct PathCase {
  const char* what;
  RecordKind kind;
  int payloadKind;
  std::wstring relative;  // below the machine's root; absolute when it starts with a drive
  PathVerdict expected;
};

TEST(RemovalPlaces, EachKindOfRecordIsJudgedAgainstItsOwnPlaces) {
  const Machine machine;
  const auto places = machine.places();
  const std::vector<PathCase> cases = {
      {"program file", RecordKind::InstalledFile, 1, L"Program Files\\Nuvelle\\Tessaline 7\\Tessaline.exe", PathVerdict::allowed},
      {"language library below", RecordKind::InstalledFile, 0, L"Program Files\\Nuvelle\\Tessaline 7\\Lang\\T.de.dll", PathVerdict::allowed},
      {"program file elsewhere", RecordKind::InstalledFile, 1, L"Program Files\\Other\\Tessaline.exe", PathVerdict::outside},
      {"system file", RecordKind::InstalledFile, 2, L"Windows\\System32\\kernel32.dll", PathVerdict::outside},
      {"system file by ..", RecordKind::InstalledFile, 1, L"Program Files\\Nuvelle\\Tessaline 7\\..\\..\\..\\Windows\\x.dll", PathVerdict::parentElement},
      {"a . element", RecordKind::InstalledFile, 1, L"Program Files\\Nuvelle\\Tessaline 7\\.\\x.dll", PathVerdict::parentElement},
      {"relative path", RecordKind::InstalledFile, 1, L"\\relative\\x.dll", PathVerdict::outside},
      {"the install folder itself as a file", RecordKind::InstalledFile, 1, L"Program Files\\Nuvelle\\Tessaline 7", PathVerdict::outside},
      {"program file on the desktop", RecordKind::InstalledFile, 1, L"Public Desktop\\Tessaline.exe", PathVerdict::outside},
      {"example on the public desktop", RecordKind::InstalledFile, 4, L"Public Desktop\\Examples\\First.tsl", PathVerdict::allowed},
      {"example in the maker's data", RecordKind::InstalledFile, 4, L"Data\\Nuvelle\\Textures\\Marble.tex", PathVerdict::allowed},
      {"example in another maker's data", RecordKind::InstalledFile, 4, L"Data\\Other\\Marble.tex", PathVerdict::outside},
      {"menu shortcut", RecordKind::MenuShortcut, -1, L"Start Menu\\Programs\\Nuvelle\\Tessaline 7\\T.lnk", PathVerdict::allowed},
      {"desktop shortcut", RecordKind::DesktopShortcut, -1, L"User\\Desktop\\Tessaline 7.08v.LNK", PathVerdict::allowed},
      {"shortcut that is no link file", RecordKind::UninstallShortcut, -1, L"Start Menu\\Programs\\Nuvelle\\Tessaline 7\\T.exe", PathVerdict::outside},
      {"shortcut beside the menu folder", RecordKind::MenuShortcut, -1, L"Start Menu\\Programs\\Other.lnk", PathVerdict::outside},
      {"shortcut in the install folder", RecordKind::MenuShortcut, -1, L"Program Files\\Nuvelle\\Tessaline 7\\T.lnk", PathVerdict::outside},
      {"created install folder", RecordKind::CreatedFolder, -1, L"Program Files\\Nuvelle\\Tessaline 7", PathVerdict::allowed},
      {"maker folder above the install folder", RecordKind::CreatedFolder, -1, L"Program Files\\Nuvelle", PathVerdict::allowed},
      {"maker folder above the menu folder", RecordKind::CreatedFolder, -1, L"Start Menu\\Programs\\Nuvelle", PathVerdict::allowed},
      {"Program Files as a created folder", RecordKind::CreatedFolder, -1, L"Program Files", PathVerdict::outside},
      {"maker data folder", RecordKind::CreatedFolder, -1, L"Data\\Nuvelle", PathVerdict::allowed},
      {"user maker folder", RecordKind::CreatedFolder, -1, L"User\\AppData\\Nuvelle", PathVerdict::allowed},
      {"examples folder", RecordKind::CreatedFolder, -1, L"Public Desktop\\Examples", PathVerdict::allowed},
      {"system folder as created folder", RecordKind::CreatedFolder, -1, L"Windows\\System32", PathVerdict::outside},
      {"uninstall key record", RecordKind::UninstallKey, -1, L"Program Files\\Nuvelle\\Tessaline 7\\x", PathVerdict::outside},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring path = c.relative.rfind(L"\\", 0) == 0 ? c.relative : machine.at(c.relative);
    EXPECT_EQ(engine::judgePath(places, c.kind, c.payloadKind, path), c.expected);
    // A refused path names no place to remove it from.
    std::wstring place = L"unchanged";
    EXPECT_EQ(engine::judgePath(places, c.kind, c.payloadKind, path, &place), c.expected);
    EXPECT_EQ(place.empty(), c.expected != PathVerdict::allowed);
  }
}

// The folder an allowed path must still lie below when it is removed: the place that allowed it,
// or for a place itself and the maker's folder above one the folder that holds it.
TEST(RemovalPlaces, AnAllowedPathNamesThePlaceThatAllowedIt) {
  const Machine machine;
  const auto places = machine.places();
  struct Case {
    const char* what;
    RecordKind kind;
    int payloadKind;
    const wchar_t* relative;
    const wchar_t* place;
  };
  const Case cases[] = {
      {"program file", RecordKind::InstalledFile, 1, L"Program Files\\Nuvelle\\Tessaline 7\\Lang\\T.de.dll", L"Program Files\\Nuvelle\\Tessaline 7"},
      {"example in the maker's data", RecordKind::InstalledFile, 4, L"Data\\Nuvelle\\Textures\\Marble.tex", L"Data\\Nuvelle"},
      {"example on the public desktop", RecordKind::InstalledFile, 4, L"Public Desktop\\Examples\\First.tsl", L"Public Desktop"},
      {"menu shortcut", RecordKind::MenuShortcut, -1, L"Start Menu\\Programs\\Nuvelle\\Tessaline 7\\T.lnk", L"Start Menu\\Programs\\Nuvelle\\Tessaline 7"},
      {"folder below a place", RecordKind::CreatedFolder, -1, L"Data\\Nuvelle\\Textures", L"Data\\Nuvelle"},
      {"a place itself", RecordKind::CreatedFolder, -1, L"Data\\Nuvelle", L"Data"},
      {"maker folder above the install folder", RecordKind::CreatedFolder, -1, L"Program Files\\Nuvelle", L"Program Files"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::wstring place;
    EXPECT_EQ(engine::judgePath(places, c.kind, c.payloadKind, machine.at(c.relative), &place),
              PathVerdict::allowed);
    EXPECT_EQ(place, machine.at(c.place));
  }
}

TEST(RemovalPlaces, ALinkOnTheWayIsRefusedButTheRecordedPathItselfMayBeOne) {
  const Machine machine;
  const auto places = machine.places();
  const std::wstring lang = machine.at(L"Program Files\\Nuvelle\\Tessaline 7\\Lang");
  const std::wstring inLang = lang + L"\\T.de.dll";
  {
    nv_test::planted_links links({lang});
    EXPECT_EQ(engine::judgePath(places, RecordKind::InstalledFile, 0, inLang),
              PathVerdict::linkOnTheWay);
    // The link itself, as a created folder, is removed as a link.
    EXPECT_EQ(engine::judgePath(places, RecordKind::CreatedFolder, -1, lang),
              PathVerdict::allowed);
  }
  {
    nv_test::planted_links links({machine.install});
    EXPECT_EQ(engine::judgePath(places, RecordKind::InstalledFile, 0, inLang),
              PathVerdict::linkOnTheWay);
  }
  EXPECT_EQ(engine::judgePath(places, RecordKind::InstalledFile, 0, inLang),
            PathVerdict::allowed);
}

// /D=...\Apps\Rel\Tessaline 7 creates Apps and Rel on the way: each is removed when empty, as
// the maker's folders are, but no folder beside them or above the first one the folder rules
// refuse, and none with a link between it and the installation.
TEST(RemovalPlaces, FoldersCreatedAboveTheInstallationMayGoButNothingBesideThem) {
  const Machine machine;
  const std::wstring install = machine.at(L"Apps\\Rel\\Tessaline 7");
  std::filesystem::create_directories(install);
  const auto places = engine::placesFor(install, machine.menu, install, machine.folders).places;
  struct Case {
    const char* what;
    std::wstring path;
    PathVerdict expected;
  };
  const std::vector<Case> cases = {
      {"the folder that holds it", machine.at(L"Apps\\Rel"), PathVerdict::allowed},
      {"the one above", machine.at(L"Apps"), PathVerdict::allowed},
      {"the root that holds the system", machine.root.path().wstring(), PathVerdict::outside},
      {"a folder beside", machine.at(L"Apps\\Other"), PathVerdict::outside},
      {"a folder above the menu folder", machine.at(L"Start Menu\\Programs\\Nuvelle"), PathVerdict::allowed},
      {"the Programs menu", machine.at(L"Start Menu\\Programs"), PathVerdict::outside},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::wstring place;
    EXPECT_EQ(engine::judgePath(places, RecordKind::CreatedFolder, -1, c.path, &place), c.expected);
    if (c.expected == PathVerdict::allowed) {
      EXPECT_EQ(place, c.path.substr(0, c.path.rfind(L'\\')));
    }
    // Other kinds of records are never admitted there.
    EXPECT_EQ(engine::judgePath(places, RecordKind::InstalledFile, 1, c.path), PathVerdict::outside);
  }
  // A link on the way down to the installation, or the folder itself a link: refused.
  for (const std::wstring& link : {machine.at(L"Apps\\Rel"), machine.at(L"Apps")}) {
    nv_test::planted_links links({link});
    EXPECT_EQ(engine::judgePath(places, RecordKind::CreatedFolder, -1, machine.at(L"Apps")),
              PathVerdict::linkOnTheWay);
  }
}

// The installer accepts exactly the folders its uninstaller takes as places.
TEST(RemovalPlaces, ALogsFoldersArePlacesOnlyWhereTheInstallerAcceptsAnInstallation) {
  const Machine machine;
  struct Case {
    const char* what;
    std::wstring install, menu, own;
    PlaceRefusal installRefusal, menuRefusal;
  };
  const std::wstring other = machine.at(L"Program Files\\Other");
  const std::vector<Case> cases = {
      {"the installation", machine.install, machine.menu, machine.install, PlaceRefusal::none, PlaceRefusal::none},
      {"the uninstaller runs elsewhere", machine.install, machine.menu, other, PlaceRefusal::notOwnFolder, PlaceRefusal::none},
      {"a drive's root", L"C:\\", machine.menu, L"C:\\", PlaceRefusal::systemFolder, PlaceRefusal::none},
      {"a system folder", machine.at(L"Windows"), machine.menu, machine.at(L"Windows"), PlaceRefusal::systemFolder, PlaceRefusal::none},
      {"a folder holding the system", machine.root.path().wstring(), machine.menu, machine.root.path().wstring(), PlaceRefusal::systemFolder, PlaceRefusal::none},
      {"a menu folder outside the Start menu", machine.install, machine.at(L"User\\Desktop"), machine.install, PlaceRefusal::none, PlaceRefusal::notBelowStartMenu},
      {"the Programs menu itself", machine.install, machine.at(L"Start Menu\\Programs"), machine.install, PlaceRefusal::none, PlaceRefusal::systemFolder},
      {"the Start menu itself", machine.install, machine.at(L"Start Menu"), machine.install, PlaceRefusal::none, PlaceRefusal::notBelowStartMenu},
      {"relative folders", L"Apps\\Tessaline 7", L"Nuvelle\\Tessaline 7", L"Apps\\Tessaline 7", PlaceRefusal::notFullPath, PlaceRefusal::notFullPath},
      {"a '..' element", machine.install + L"\\..\\..", machine.menu + L"\\..\\..\\..", machine.install + L"\\..\\..", PlaceRefusal::notFullPath, PlaceRefusal::notFullPath},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto result = engine::placesFor(c.install, c.menu, c.own, machine.folders);
    EXPECT_EQ(result.installRefusal, c.installRefusal);
    EXPECT_EQ(result.menuRefusal, c.menuRefusal);
    EXPECT_EQ(result.places.installFolder.empty(), c.installRefusal != PlaceRefusal::none);
    EXPECT_EQ(result.places.menuFolder.empty(), c.menuRefusal != PlaceRefusal::none);
    if (c.own == c.install) {
      EXPECT_EQ(engine::judgeInstallFolder(c.install, machine.folders), c.installRefusal);
    }
    EXPECT_EQ(engine::judgeMenuFolder(c.menu, machine.folders), c.menuRefusal);
  }
  // Without its install folder, nothing of the program files may go.
  const auto places = engine::placesFor(machine.install, machine.menu, other, machine.folders).places;
  EXPECT_EQ(engine::judgePath(places, RecordKind::InstalledFile, 1, machine.install + L"\\T.exe"),
            PathVerdict::outside);
}

}  // namespace
