// robot.exe's commands on the machine rather than on a window: a shortcut read back, a resource
// of an executable replaced, and a program run to its end while nothing it shows may be seen.
// Each prints its "<verb>: <value>" lines and throws robot_output::command_failed on failure.
#pragma once

#include <windows.h>

#include <string>

namespace machine_commands {

// Prints the shortcut's target, arguments and working folder.
void print_link_target(const std::wstring& link);
// Replaces (or adds) the resource `type`/`name` (numbers where the texts are) of `exe` by the
// bytes of `file`, language neutral.
void set_resource(const std::wstring& exe, const std::wstring& type, const std::wstring& name,
                  const std::wstring& file);
// Runs `command_line` to its end (at most `timeout_ms`) while polling for visible top-level
// windows of its process; prints the exit code and every window seen, and fails when one was.
void run_unseen(const std::wstring& command_line, DWORD timeout_ms);

}  // namespace machine_commands
