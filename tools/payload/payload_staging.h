// A manifest written from a staging folder, for a product of thousands of files that nobody lists
// by hand. The staging folder holds one folder per kind, named as the manifest names kinds
// (MainProgram, Uninstaller, LanguageLibrary, SharedData, Sample, Temporary); in each, one folder
// per destination token, named without its brackets (InstallPath, CommonData, ...); below that,
// the files in the folders they are to be installed in:
//
//   staging/MainProgram/InstallPath/Tessaline.exe
//   staging/LanguageLibrary/InstallPath/Lang/Tessaline.de.dll
//   staging/SharedData/CommonData/Nuvelle/Materials/Wood.mat
//
// gives "SharedData<TAB><CommonData>\Nuvelle\Materials<TAB>staging/SharedData/..." and so on,
// each SOURCE relative to the manifest's folder, sorted, so that the same staging folder always
// gives the same manifest. The engineer reviews it and packs it.
#pragma once

#include <filesystem>

namespace payload_tool {

// Writes the manifest of `staging` to the new file `out` (an existing one is never replaced) and
// returns the number of entries. The manifest must pass what `pack` checks; otherwise nothing is
// written. Throws std::runtime_error naming the folder or file that does not fit the layout.
std::size_t write_staging_manifest(const std::filesystem::path& staging,
                                   const std::filesystem::path& out);

}  // namespace payload_tool
