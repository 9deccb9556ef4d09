// The lines that open a run in the /LOG file: a separator from the run before, then which program
// ran, how it was started, by whom, on which Windows, and what kind of run it is. They are
// English whatever language the program speaks, as "Name: value" lines, for the tools that read
// the logs of many machines. The installer and the uninstaller open their logs this way.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "run/log_file.h"

namespace engine {

// What the header says of a run.
struct RunFacts {
  std::wstring program;      // the executable's file name
  std::wstring version;      // its version, "7.8.22.1"
  std::wstring commandLine;  // as the program received it
  std::wstring user;         // "DOMAIN\name", or the user's SID when the name cannot be found
  bool elevated = false;     // the process holds its administrators' rights
  std::wstring windows;      // "10.0.19045"
};

// The facts of this process, started with `commandLine`.
RunFacts CurrentRunFacts(std::wstring commandLine);

// The separator and the header lines of `facts`, without the kind of run.
std::vector<std::wstring> RunHeaderLines(const RunFacts& facts);

// Writes RunHeaderLines(CurrentRunFacts(commandLine)) to `log`.
void WriteRunHeader(CLogFile& log, std::wstring commandLine);

// The header line that names the kind of run ("first installation of 7.8.22.1", "removal"),
// written once the program knows it.
std::wstring RunKindLine(std::wstring_view kind);

}  // namespace engine
