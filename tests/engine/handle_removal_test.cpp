#include "engine/handle_removal.h"

#include <windows.h>

#include <cwctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "final_path_test_support.h"
#include "nv/link_check.h"
#include "nv/product_test_support.h"
#include "nv/unique_handle.h"

namespace {

namespace fs = std::filesystem;
using engine::EntryKind;
using engine::RemovalOutcome;
using engine::RemoveThroughHandle;

void write(const fs::path& path) { std::ofstream(path) << "content"; }

void make_read_only(const fs::path& path) {
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), ::GetFileAttributesW(path.c_str()) |
                                                     FILE_ATTRIBUTE_READONLY));
}

// A place with the entry the case removes at `place / L"Sub" / L"entry"`.
struct Scene {
  nv_test::temp_folder folder;
  fs::path place = folder.path() / L"Place";
  fs::path entry = place / L"Sub" / L"entry";
  Scene() { fs::create_directories(entry.parent_path()); }
};

struct RealCase {
  const char* what;
  std::function<void(const fs::path& entry)> make;
  EntryKind kind;
  RemovalOutcome outcome;
  bool stays;
  DWORD error = ERROR_SUCCESS;  // for a failure
};

// Each case below its place and exactly where its path names it (no place).
TEST(HandleRemoval, RemovesFilesAndEmptyFoldersAndKeepsWhatItMustNot) {
  const RealCase cases[] = {
      {"a file", write, EntryKind::fileOrLink, RemovalOutcome::removed, false},
      {"a read-only file",
       [](const fs::path& entry) {
         write(entry);
         make_read_only(entry);
       },
       EntryKind::fileOrLink, RemovalOutcome::removed, false},
      {"an empty folder", [](const fs::path& entry) { fs::create_directory(entry); },
       EntryKind::emptyFolder, RemovalOutcome::removed, false},
      {"a folder that holds a file",
       [](const fs::path& entry) {
         fs::create_directory(entry);
         write(entry / L"kept.txt");
       },
       EntryKind::emptyFolder, RemovalOutcome::notEmpty, true},
      {"a missing path", [](const fs::path&) {}, EntryKind::fileOrLink, RemovalOutcome::absent,
       false},
      {"a missing folder", [](const fs::path&) {}, EntryKind::emptyFolder, RemovalOutcome::absent,
       false},
      {"a folder named as a file", [](const fs::path& entry) { fs::create_directory(entry); },
       EntryKind::fileOrLink, RemovalOutcome::failed, true, ERROR_DIRECTORY},
      {"a file named as a folder", write, EntryKind::emptyFolder, RemovalOutcome::failed, true,
       ERROR_DIRECTORY},
  };
  for (const bool belowPlace : {true, false}) {
    for (const RealCase& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (belowPlace ? ", below its place" : ", where it is named"));
      Scene scene;
      c.make(scene.entry);
      const auto result = RemoveThroughHandle(
          scene.entry.wstring(), c.kind, belowPlace ? scene.place.wstring() : std::wstring());
      EXPECT_EQ(result.outcome, c.outcome);
      EXPECT_EQ(result.error.value(), static_cast<int>(c.error));
      EXPECT_EQ(fs::exists(scene.entry), c.stays);
    }
  }
  // A path below a missing folder is absent too.
  Scene scene;
  EXPECT_EQ(RemoveThroughHandle((scene.entry / L"x" / L"y").wstring(), EntryKind::fileOrLink,
                                scene.place.wstring())
                .outcome,
            RemovalOutcome::absent);
}

TEST(HandleRemoval, AFolderThatStaysKeepsItsReadOnlyAttribute) {
  Scene scene;
  fs::create_directory(scene.entry);
  write(scene.entry / L"kept.txt");
  make_read_only(scene.entry);
  if (!(::GetFileAttributesW(scene.entry.c_str()) & FILE_ATTRIBUTE_READONLY))
    GTEST_SKIP() << "Wine keeps no read-only attribute on a folder";
  EXPECT_EQ(RemoveThroughHandle(scene.entry.wstring(), EntryKind::emptyFolder,
                                scene.place.wstring())
                .outcome,
            RemovalOutcome::notEmpty);
  EXPECT_TRUE(::GetFileAttributesW(scene.entry.c_str()) & FILE_ATTRIBUTE_READONLY);
  ::SetFileAttributesW(scene.entry.c_str(), FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

// What a junction put on the way between the judgement and the removal would make the entry's
// final path: anything not strictly below the place, element by element, is refused untouched.
TEST(HandleRemoval, AFinalPathOutsideThePlaceIsRefusedAndNothingIsTouched) {
  struct Case {
    const char* what;
    std::function<std::wstring(const Scene&)> reported;
    RemovalOutcome outcome;
  };
  const Case cases[] = {
      {"another folder", [](const Scene&) { return std::wstring(L"C:\\windows\\system32\\entry"); },
       RemovalOutcome::elsewhere},
      {"a sibling whose name begins as the place's",
       [](const Scene& s) { return s.place.wstring() + L"X\\Sub\\entry"; },
       RemovalOutcome::elsewhere},
      {"the place itself", [](const Scene& s) { return s.place.wstring(); },
       RemovalOutcome::elsewhere},
      {"the same path in capitals", [](const Scene& s) { return upper(s.entry.wstring()); },
       RemovalOutcome::removed},
  };
  for (const EntryKind kind : {EntryKind::fileOrLink, EntryKind::emptyFolder}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (kind == EntryKind::fileOrLink ? ", a file" : ", a folder"));
      Scene scene;
      if (kind == EntryKind::fileOrLink)
        write(scene.entry);
      else
        fs::create_directory(scene.entry);
      // The place's own final path is the real one: only the entry seems to lie elsewhere.
      const engine_test::moved_final_paths moved(scene.entry.wstring(), c.reported(scene));
      EXPECT_EQ(RemoveThroughHandle(scene.entry.wstring(), kind, scene.place.wstring()).outcome,
                c.outcome);
      EXPECT_EQ(fs::exists(scene.entry), c.outcome != RemovalOutcome::removed);
    }
  }
}

// Without a place the entry must lie exactly where its path names it.
TEST(HandleRemoval, WithoutAPlaceAnEntryElsewhereIsRefused) {
  Scene scene;
  write(scene.entry);
  {
    const engine_test::moved_final_paths moved(
        scene.entry.wstring(), (scene.place / L"Other" / L"entry").wstring());
    EXPECT_EQ(RemoveThroughHandle(scene.entry.wstring(), EntryKind::fileOrLink, {}).outcome,
              RemovalOutcome::elsewhere);
  }
  EXPECT_TRUE(fs::exists(scene.entry));
  {
    // Its folder seeming elsewhere moves the expected place with it.
    const engine_test::moved_final_paths moved(scene.entry.parent_path().wstring(),
                                               L"C:\\windows\\system32");
    EXPECT_EQ(RemoveThroughHandle(scene.entry.wstring(), EntryKind::fileOrLink, {}).outcome,
              RemovalOutcome::elsewhere);
  }
  EXPECT_TRUE(fs::exists(scene.entry));
}

// A place that became a link itself would carry everything below it elsewhere: refused.
TEST(HandleRemoval, APlaceThatIsALinkIsRefused) {
  Scene scene;
  write(scene.entry);
  std::wstring placeFinal;
  {
    const nv::unique_handle place(::CreateFileW(scene.place.c_str(), FILE_READ_ATTRIBUTES,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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
  const auto result =
      RemoveThroughHandle(scene.entry.wstring(), EntryKind::fileOrLink, scene.place.wstring());
  nv::set_link_queries(previous);
  EXPECT_EQ(result.outcome, RemovalOutcome::elsewhere);
  EXPECT_TRUE(fs::exists(scene.entry));
  // The same place as a plain folder lets it go.
  EXPECT_EQ(RemoveThroughHandle(scene.entry.wstring(), EntryKind::fileOrLink,
                                scene.place.wstring())
                .outcome,
            RemovalOutcome::removed);
}

}  // namespace
