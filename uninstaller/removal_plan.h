// What an uninstallation does, decided from the uninstall log's records before anything is
// touched: the records the installer carried out (done 1), newest first, each turned into a
// removal, something kept with its reason, or a refusal with its reason.
#pragma once

#include <string>
#include <vector>

#include "transaction/install_journal.h"
#include "transaction/removal_places.h"

namespace uninstaller {

// The place rules are shared with the installer's undo (transaction/removal_places.h).
using engine::judgePath;
using engine::machineFolders;
using engine::MachineFolders;
using engine::PathVerdict;
using engine::PlaceRefusal;
using engine::placesFor;
using engine::PlacesResult;
using engine::RemovalPlaces;

enum class StepKind {
  removeFile,          // an installed file or example project (read-only attribute cleared)
  removeShortcut,      // a ".lnk" file
  removeFolder,        // a folder the installer created, only when empty
  removeUninstallKey,  // the product's entry in the list of installed programs
  unregisterProduct,   // the product's own unregistration, then the product path value
  keepShared,          // shared data: other products of the maker use it
  keepExample,         // an example project the person chose to keep
  keepDirectX,         // the DirectX runtime serves other programs too
  refuse,              // a path the uninstaller may not touch
};

struct PlannedStep {
  StepKind kind = StepKind::refuse;
  std::wstring path;  // the record's path; for unregisterProduct the main program's
  PathVerdict verdict = PathVerdict::allowed;  // why a refused path was refused
  // For a removal: the folder the path must still lie below when it is removed (judgePath).
  std::wstring place;
};

// The steps for `records` in log order (oldest first): done records only, newest first.
// Example projects are removed only with `removeExamples`.
std::vector<PlannedStep> planRemoval(const std::vector<engine::JournalRecord>& records,
                                     const RemovalPlaces& places, bool removeExamples);

// True when the log names at least one example project that was installed.
bool hasExamples(const std::vector<engine::JournalRecord>& records);

}  // namespace uninstaller
