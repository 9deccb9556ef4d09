// The decisions the installer makes at start-up, apart from the window it then shows: which
// language it starts in, how an installed product compares with the version it brings, and the
// default installation and menu folders. InitInstance (app/init_instance.cpp) runs them in order;
// tests call them one by one.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "localization/start_language.h"
#include "steps/existing_install.h"
#include "nv/product.h"

// How an installed product relates to the version this installer brings.
struct InstalledVersion {
  engine::ExistingInstall existingInstall = engine::ExistingInstall::None;
  std::wstring previousVersionText;        // set for an older or a newer version
  nv::ProductVersion previousVersion = 0;  // set for an older version only
  nv::ProductVersion installedVersion = 0;  // the installed executable's version; 0 without one
};

// The kind of run the /LOG file's header names for `installed`, in English: "first installation
// of 7.8.22.1", "reinstallation of ...", "update from 7.5.0.2 to ...", "newer version ...".
std::wstring runKind(const InstalledVersion& installed);

// The classification for a product executable whose version resource has (or lacks) a fixed
// part with `fileVersion`, and whose display text is `versionText`.
InstalledVersion classifyVersion(bool hasFixedInfo, nv::ProductVersion fileVersion,
                                 const std::wstring& versionText);

// The classification of the product executable at `productPath` (empty: not installed). A file
// without a version resource counts as the same version.
InstalledVersion classifyInstalledProduct(const std::wstring& productPath);

// Program Files\Nuvelle\<registry name>. When the system cannot name the Program Files folder,
// the "ProgramFiles" environment value stands in; empty when neither is known.
std::wstring defaultInstallFolder();

// The all-users Programs menu folder, else the user's own; empty when the system names neither.
std::wstring programsMenuFolder();

// programsMenuFolder() \Nuvelle\<registry name>; empty without a Programs menu folder.
std::wstring defaultMenuFolder();

// What start-up asks the system about the user, the running programs and the command line.
// Tests replace them to take the refusal paths a test machine never takes by itself.
struct StartupChecks {
  std::function<bool()> isAdministrator;            // nv::is_administrator
  std::function<std::uint32_t()> runningInstances;  // nv::running_instances
  std::function<INT_PTR()> runWizard;               // the wizard frame, modally
  std::function<std::wstring()> commandLine;        // GetCommandLineW
  std::function<int()> runUnattended;               // RunUnattendedInstall, its exit code
};

// Replaces the checks (empty members restore the real ones); returns the previous ones.
StartupChecks setStartupChecks(StartupChecks checks);
// The checks as replaced (members may be empty).
const StartupChecks& startupChecks();

// Runs the installer's wizard frame modally as the application's main window; its result.
INT_PTR runInstallWizard();
