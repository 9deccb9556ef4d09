#include "nv/command_line.h"

#include <windows.h>

namespace nv {
namespace {

bool is_blank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

std::vector<std::wstring> command_line_arguments(std::wstring_view command_line) {
  std::size_t i = 0;
  const std::size_t n = command_line.size();
  // The program's name: a quoted name may hold blanks; an unquoted one ends at the first blank.
  if (i < n && command_line[i] == L'"') {
    const std::size_t close = command_line.find(L'"', 1);
    i = close == std::wstring_view::npos ? n : close + 1;
  } else {
    while (i < n && !is_blank(command_line[i])) ++i;
  }

  std::vector<std::wstring> arguments;
  for (;;) {
    while (i < n && is_blank(command_line[i])) ++i;
    if (i >= n) break;
    std::wstring argument;
    bool quoted = false;
    for (; i < n && (quoted || !is_blank(command_line[i])); ++i) {
      if (command_line[i] == L'"')
        quoted = !quoted;
      else
        argument.push_back(command_line[i]);
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

bool has_unattended_switch(std::wstring_view command_line) {
  for (const std::wstring& argument : command_line_arguments(command_line)) {
    if (argument.size() == 2 && argument[0] == L'/' && (argument[1] == L'S' || argument[1] == L's'))
      return true;
  }
  return false;
}

bool unattended_run() {
  const wchar_t* command_line = ::GetCommandLineW();
  return command_line != nullptr && has_unattended_switch(command_line);
}

}  // namespace nv
