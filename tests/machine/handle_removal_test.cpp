#include "machine/handle_removal.h"

#include <windows.h>

#include <cwctype>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "machine/final_path_test_support.h"
#include "nv/link_check.h"
#include "nv/product_test_support.h"
#include "nv/unique_handle.h"

namespace {

namespace fs = std::filesystem;
using engine::EntryKind;
using engine::RemovalOutcome;
using engine::RemoveThroughHandle;

// What the case's entry is when the removal starts.
enum class Made { nothing, file, readOnlyFile, folder, folderWithFile };

// A place with one entry two levels below it; `belowPlace` false removes it without a place.
struct Scene {
  nv_test::temp_folder folder;
  fs::path place = folder.path() / L"Place";
  fs::path entry = place / L"Sub" / L"entry";

  explicit Scene(Made made) {
    fs::create_directories(entry.parent_path());
    if (made == Made::folder || made == Made::folderWithFile) fs::create_directory(entry);
    if (made == Made::file || made == Made::readOnlyFile) std::ofstream(entry) << "content";
    if (made == Made::folderWithFile) std::ofstream(entry / L"kept.txt") << "content";
    if (made == Made::readOnlyFile) ::SetFileAttributesW(entry.c_str(), FILE_ATTRIBUTE_READONLY);
  }
  engine::RemovalResult remove(EntryKind kind, bool belowPlace) const {
    return RemoveThroughHandle(entry.wstring(), kind, belowPlace ? place.wstring() : L"");
  }
};

TEST(HandleRemoval, RemovesFilesAndEmptyFoldersAndKeepsWhatItMustNot) {
  struct Case {
    const char* what;
    Made made;
    EntryKind kind;
    RemovalOutcome outcome;
    DWORD error = ERROR_SUCCESS;
  };
  const Case cases[] = {
      {"a file", Made::file, EntryKind::fileOrLink, RemovalOutcome::removed},
      {"a read-only file", Made::readOnlyFile, EntryKind::fileOrLink, RemovalOutcome::removed},
      {"an empty folder", Made::folder, EntryKind::emptyFolder, RemovalOutcome::removed},
      {"a folder that holds a file", Made::folderWithFile, EntryKind::emptyFolder,
       RemovalOutcome::notEmpty},
      {"a missing path", Made::nothing, EntryKind::fileOrLink, RemovalOutcome::absent},
      {"a missing folder", Made::nothing, EntryKind::emptyFolder, RemovalOutcome::absent},
      {"a folder named as a file", Made::folder, EntryKind::fileOrLink, RemovalOutcome::failed,
       ERROR_DIRECTORY},
      {"a file named as a folder", Made::file, EntryKind::emptyFolder, RemovalOutcome::failed,
       ERROR_DIRECTORY},
  };
  for (const bool belowPlace : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (belowPlace ? ", below its place" : ", without one"));
      const Scene scene(c.made);
      const auto result = scene.remove(c.kind, belowPlace);
      EXPECT_EQ(result.outcome, c.outcome);
      EXPECT_EQ(result.error.value(), static_cast<int>(c.error));
      EXPECT_EQ(fs::exists(scene.entry), c.made != Made::nothing &&
                                             c.outcome != RemovalOutcome::removed);
    }
  }
}

std::wstring upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

// What a junction put on the way between the judgement and the removal would make the entry's
// final path: anything not strictly below the place, whole elements compared, or not exactly where
// the path names it, is refused untouched.
TEST(HandleRemoval, AFinalPathElsewhereIsRefusedAndNothingIsTouched) {
  struct Case {
    const char* what;
    std::wstring (*reported)(const Scene&);
    bool belowPlace;
    RemovalOutcome outcome;
  };
  const Case cases[] = {
      {"another folder", [](const Scene&) { return std::wstring(L"C:\\windows\\system32\\entry"); },
       true, RemovalOutcome::elsewhere},
      {"a sibling whose name begins as the place's",
       [](const Scene& s) { return s.place.wstring() + L"X\\Sub\\entry"; }, true,
       RemovalOutcome::elsewhere},
      {"the place itself", [](const Scene& s) { return s.place.wstring(); }, true,
       RemovalOutcome::elsewhere},
      {"the same path in capitals", [](const Scene& s) { return upper(s.entry.wstring()); }, true,
       RemovalOutcome::removed},
      {"below the place, but not where it is named",
       [](const Scene& s) { return (s.place / L"Other" / L"entry").wstring(); }, false,
       RemovalOutcome::elsewhere},
  };
  for (const Made made : {Made::file, Made::folder}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (made == Made::file ? ", a file" : ", a folder"));
      const Scene scene(made);
      const engine_test::moved_final_paths moved(scene.entry.wstring(), c.reported(scene));
      const EntryKind kind = made == Made::file ? EntryKind::fileOrLink : EntryKind::emptyFolder;
      EXPECT_EQ(scene.remove(kind, c.belowPlace).outcome, c.outcome);
      EXPECT_EQ(fs::exists(scene.entry), c.outcome != RemovalOutcome::removed);
    }
  }
}

// A place that became a link itself would carry everything below it elsewhere: refused.
TEST(HandleRemoval, APlaceThatIsALinkIsRefused) {
  const Scene scene(Made::file);
  std::wstring placeFinal;
  {
    const nv::unique_handle place(::CreateFileW(
        scene.place.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::error_code error;
    placeFinal = engine::FinalPathOf(place.get(), error);
    ASSERT_FALSE(placeFinal.empty()) << error.message();
  }
  nv::link_queries previous;
  previous = nv::set_link_queries({{}, [&](HANDLE object) {
                                     nv::file_facts facts = previous.of_handle(object);
                                     std::error_code error;
                                     if (engine::FinalPathOf(object, error) == placeFinal)
                                       facts.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
                                     return facts;
                                   }});
  const auto result = scene.remove(EntryKind::fileOrLink, true);
  nv::set_link_queries(previous);
  EXPECT_EQ(result.outcome, RemovalOutcome::elsewhere);
  EXPECT_TRUE(fs::exists(scene.entry));
  // The same place as a plain folder lets it go.
  EXPECT_EQ(scene.remove(EntryKind::fileOrLink, true).outcome, RemovalOutcome::removed);
}

}  // namespace
