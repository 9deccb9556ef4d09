// The install sequence run with the /LOG file following it.
#pragma once

#include <string>

#include "steps/install_progress.h"
#include "run/logged_progress.h"

class CInstallApp;
struct InstalledPrograms;

// Runs the install sequence with the /LOG file of `app` following it: the summary of the
// settings, every line as it comes, then the outcome, also when an exception ends the run (it
// travels on). `window` shows the run as well; null for an unattended run.
bool RunLoggedInstall(CInstallApp& app, InstalledPrograms& programs,
                      engine::InstallProgress* window);
