// The unattended installation (/S on the command line): the install sequence run without any
// window, with the settings start-up prepared, its progress going to the /LOG file alone; and the
// exit codes by which deployment systems learn the outcome of an unattended run. They are the
// codes those systems already know from Windows Installer.
#pragma once

class CInstallApp;

namespace UnattendedExit {
inline constexpr int Installed = 0;
inline constexpr int ProcessorUnsupported = 1;   // as the static start-up check ends
inline constexpr int BadCommandLine = 87;        // ERROR_INVALID_PARAMETER
inline constexpr int NotAdministrator = 740;     // ERROR_ELEVATION_REQUIRED
inline constexpr int Failed = 1603;              // ERROR_INSTALL_FAILURE: undone, nothing kept
inline constexpr int Busy = 1618;                // ERROR_INSTALL_ALREADY_RUNNING: try again later
inline constexpr int NewerInstalled = 1638;      // ERROR_PRODUCT_VERSION: nothing changed
}  // namespace UnattendedExit

// Installs with the settings of `app` and returns UnattendedExit::Installed, or Failed when the
// installation stopped and was undone. The log file receives the summary of the options, every
// step with its outcome and the final outcome.
int RunUnattendedInstall(CInstallApp& app);
