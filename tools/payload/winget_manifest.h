// The package manager's manifest of a release: the three YAML files (version, installer and
// default locale, manifest version 1.10.0) that let the Windows Package Manager find, check,
// install and recognise the signed installer. Its values come from the installer's own
// definitions: what the uninstall key shows (engine::InstalledProgram), the unattended options
// and the exit codes of an unattended installation.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace payload_tool {

// Writes the manifest of `installer` at `url` into `outdir` (created when missing) and returns
// the paths written. Refuses, with std::runtime_error and one line, a bad `url`, an `installer`
// without the payload resource (not an installer) or without a signature (the manifest is for
// the signed release), and an `outdir` that holds any of the three files already (nothing is
// ever replaced) or is a link. Each file is written under a temporary name and renamed when all
// three are complete: a refusal or failure leaves none of them, and no folder it created.
std::vector<std::filesystem::path> write_winget_manifest(const std::filesystem::path& installer,
                                                         const std::wstring& url,
                                                         const std::filesystem::path& outdir);

}  // namespace payload_tool
