// Taking a command line apart: the program's name, blanks, quotes and backslashes, and the /S
// switch that the start-up checks look for on their own.
#include "nv/command_line.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(CommandLineArguments, BlanksSeparateQuotesGroupAndBackslashesStay) {
  const struct {
    const wchar_t* line;
    std::vector<std::wstring> arguments;
  } cases[] = {
      {L"", {}},
      {L"Install.exe", {}},
      {L"Install.exe   ", {}},
      {L"\"C:\\Program Files\\Install.exe\" /S /D=C:\\Apps", {L"/S", L"/D=C:\\Apps"}},
      {L"\"C:\\Program Files\\Install.exe\"/S", {L"/S"}},  // the name ends at its quote
      {L"Install.exe  a\t \tb ", {L"a", L"b"}},
      {L"Install.exe /D=\"C:\\Program Files\\T 7\\\" /S", {L"/D=C:\\Program Files\\T 7\\", L"/S"}},
      {L"Install.exe \"/LOG=C:\\a b.log\"", {L"/LOG=C:\\a b.log"}},
      {L"Install.exe a\"b c\"d \"\"", {L"ab cd", L""}},
      {L"Install.exe \"unterminated /S", {L"unterminated /S"}},
      {L"\"C:\\unterminated name /S", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.line);
    EXPECT_EQ(nv::command_line_arguments(c.line), c.arguments);
  }
}

TEST(CommandLineArguments, UnattendedOnlyForAnArgumentThatIsSlashS) {
  const struct {
    const wchar_t* line;
    bool unattended;
  } cases[] = {
      {L"Install.exe /S", true},
      {L"Install.exe /D=C:\\Apps /s", true},
      {L"Install.exe \"/S\"", true},
      {L"Install.exe", false},
      {L"/S", false},  // the program's own name
      {L"Install.exe /SHORTCUTS=none", false},
      {L"Install.exe -S", false},
      {L"Install.exe /S=1", false},
      {L"Install.exe \"/D=C:\\Apps /S\"", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(nv::has_unattended_switch(c.line), c.unattended) << c.line;
}

}  // namespace
