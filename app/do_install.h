// The install sequence: names the working folder, extracts the payload through
// CExtractionCallback, then makes the product's executables read-only, creates the shortcuts,
// updates DirectX, registers the product and writes the uninstall log. A failure of the
// extraction or of the product path value undoes everything the run journaled. The wizard's
// Progress page and the unattended installation run this same sequence; only what they show of
// it differs.
#pragma once

#include <string>

#include "steps/install_progress.h"

class CInstallApp;

// The product's two executables, as one run of the install sequence found them in the payload.
struct InstalledPrograms {
  std::wstring mainProgramPath;
  std::wstring uninstallerPath;
};

// Runs the installation with the settings of `app`, reporting to `progress`; `programs` is
// emptied first and filled as the payload is written. True when the installation completed
// (later steps may still have logged "Failed"); false when it stopped and was undone.
bool DoInstall(engine::InstallProgress& progress, CInstallApp& app, InstalledPrograms& programs);
