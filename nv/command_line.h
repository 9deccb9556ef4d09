// The process's command line taken apart into its arguments, and the one switch that the start-up
// checks of the support library must know before the application has read its options: /S, the
// unattended run, in which no start-up failure may show a message box.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nv {

// The arguments after the program's name. Blanks and tabs separate arguments; a double quote
// starts or ends a part in which blanks belong to the argument, and is itself dropped (an
// unterminated quote runs to the end). A backslash is an ordinary character, so that
// /D="C:\Apps\" means C:\Apps\. The program's name ends at its closing quote when it starts
// with one, else at the first blank or tab.
std::vector<std::wstring> command_line_arguments(std::wstring_view command_line);

// True when one of the arguments of `command_line` is /S (in any case).
bool has_unattended_switch(std::wstring_view command_line);

// has_unattended_switch for the process's own command line (GetCommandLineW).
bool unattended_run();

}  // namespace nv
