// The command line of the installer and of the uninstaller: the options an administrator gives to
// run without the wizard (/S) or to start the wizard with other choices, read once at start-up. Parsing looks at the text
// only; the checks that need the machine (what already exists on the way to a folder) come after.
// Everything here comes from whoever started the elevated installer: what cannot be taken exactly
// as it stands is refused, never guessed at.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "machine/folder_rules.h"
#include "localization/languages.h"

// Which shortcuts /SHORTCUTS asks for.
struct ShortcutOption {
  bool menu = false;
  bool desktop = false;
};

// Whose command line it is: each program knows its own options.
enum class Program { Installer, Uninstaller };

// What the command line asks for; an option that was not given is left empty.
struct InstallOptions {
  bool unattended = false;                     // /S
  bool help = false;                           // /? or /HELP
  bool removeExamples = false;                 // /REMOVEEXAMPLES (the uninstaller's)
  std::optional<std::wstring> installFolder;   // /D=, an absolute path
  std::optional<std::wstring> menuFolder;      // /MENU=, absolute or below the Programs menu
  std::optional<ShortcutOption> shortcuts;     // /SHORTCUTS=
  std::optional<LanguageId> language;          // /LANG=, a product language
  std::optional<std::wstring> logFile;         // /LOG=, an absolute path
};

// Why an option is refused.
enum class OptionFault {
  Unknown,        // not an option of the program
  MissingValue,   // /D, /MENU, /SHORTCUTS, /LANG or /LOG without "=" and a value
  Repeated,       // the same option twice
  RelativePath,   // /D or /LOG not absolute (a drive letter, a colon and a backslash)
  NotAPath,       // a path that cannot name a folder or file
  BadValue,       // a value the option does not know, or a value given to a switch
  NotWritable,    // the /LOG file cannot be opened for appending
  Unacceptable,   // /D or /MENU names a folder no installation may use (folder_rules.h)
};

struct OptionError {
  OptionFault fault = OptionFault::Unknown;
  std::wstring option;  // the option as named in the messages: "/D", or the unknown argument
  std::wstring detail;  // for NotWritable: the system's reason; for Unacceptable: the folder;
                        // for a NotAPath found on the machine: the file or drive in the way
  engine::PlaceRefusal refusal = engine::PlaceRefusal::none;  // for Unacceptable: why
  std::wstring value;   // the option's value, when the refusal names it
  UINT reason = 0;      // for a NotAPath found on the machine: the message saying why (%1: detail)
};

struct ParsedCommandLine {
  InstallOptions options;
  // The first refused argument. `options.unattended` is still set when any argument is /S, so
  // that a refusal in an unattended run shows no box either.
  std::optional<OptionError> error;
};

// Parses a whole command line, program name first (as GetCommandLineW gives it). Option names
// are case-insensitive; values may be quoted (see nv::command_line_arguments).
ParsedCommandLine parseCommandLine(std::wstring_view commandLine,
                                   Program program = Program::Installer);

// The error for a folder option whose path runs into a file or a drive that does not exist: the
// nearest element of `folder` that exists must be a folder, or the folder can never be made. The
// error names the value and the reason.
std::optional<OptionError> checkFolderOnMachine(std::wstring_view option,
                                                const std::wstring& folder);

// The refusal in the current language: what is wrong with which option.
std::wstring describeOptionError(const OptionError& error);
