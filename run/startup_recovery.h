// The recovery of interrupted installations at a program's start, as the person who started it
// meets it: only with administrator rights; records that lay outside the installation's folders
// are named in the log; an undone installation is told; and a recovery that could not finish
// (a file it must put back is held by a program) stops the start with the file and the program
// named: Retry and Cancel in a run with a window, "try again later" in an unattended one.
// Nothing is installed or removed over an unfinished recovery.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "transaction/interrupted_runs.h"
#include "run/startup_report.h"

namespace engine {

// Recovers the interrupted runs when `administrator`, before anything of the machine is read;
// nothing otherwise (the start then ends at the administrator refusal, every journal left alone).
RecoveryResult RecoverIfAdministrator(bool administrator);

// Tells what `result` found, once the language is chosen, and retries an unfinished recovery as
// long as the person asks for it. Nothing when the start may go on; otherwise the exit code:
// `busyExitCode` in an unattended run, 0 when the person cancelled.
std::optional<int> ReportRecovery(CStartupReport& report, RecoveryResult result, int busyExitCode);

// The programs that hold `path` open, as the system's restart manager names them, separated by
// commas; empty when it cannot tell.
std::wstring ProgramsHolding(const std::wstring& path);

}  // namespace engine
