// The installer's command line: every option and its value forms, quoting and blanks in paths,
// each way an argument is refused, and the checks of folder options against the disk.
#include "run/command_line.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

struct Accepted {
  const wchar_t* commandLine;
  bool unattended = false;
  bool help = false;
  std::optional<std::wstring> installFolder;
  std::optional<std::wstring> menuFolder;
  std::optional<std::pair<bool, bool>> shortcuts;  // menu, desktop
  std::optional<LanguageId> language;
  std::optional<std::wstring> logFile;
};

TEST(CommandLine, AcceptedFormsGiveTheirOptions) {
  using std::make_pair;
  const std::vector<Accepted> cases = {
      {L"Install.exe"},
      {L"Install.exe /S", true},
      {L"\"C:\\Program Files\\Setup Files\\Install.exe\" /s", true},
      {L"Install.exe\t/S\t", true},
      {L"Install.exe /S /D=\"C:\\Program Files\\Other Place\\T 7\" /SHORTCUTS=desktop /LANG=fr",
       true, false, L"C:\\Program Files\\Other Place\\T 7", {}, make_pair(false, true),
       Languages::French},
      // Quotes around the whole argument; a trailing backslash is not an escape and is dropped.
      {L"Install.exe \"/D=C:\\Apps\\Tessaline 7\\\"", false, false, L"C:\\Apps\\Tessaline 7"},
      {L"Install.exe /D=\"C:\\Apps\\\"", false, false, L"C:\\Apps"},
      {L"Install.exe /D=C:\\", false, false, L"C:\\"},
      {L"Install.exe /d=c:\\apps /menu=Nuvelle\\Test /shortcuts=MENU,Desktop /lang=15 "
       L"/log=C:\\logs\\install.log",
       false, false, L"c:\\apps", L"Nuvelle\\Test", make_pair(true, true), Languages::Polish,
       L"C:\\logs\\install.log"},
      {L"Install.exe /MENU=\"D:\\Menus\\T 7\\\" /SHORTCUTS=none", false, false, {},
       L"D:\\Menus\\T 7", make_pair(false, false)},
      {L"Install.exe /SHORTCUTS=desktop,menu /LANG=PL", false, false, {}, {},
       make_pair(true, true), Languages::Polish},
      {L"Install.exe /LANG=05", false, false, {}, {}, {}, Languages::Dutch},
      {L"Install.exe /Lang=IT /shortcuts=Menu", false, false, {}, {}, make_pair(true, false),
       Languages::Italian},
      {L"Install.exe /LANG=hu /LOG=\"C:\\Log Files\\t7.log\"", false, false, {}, {}, {},
       Languages::Hungarian, L"C:\\Log Files\\t7.log"},
      {L"Install.exe /?", false, true},
      {L"Install.exe /help /S", true, true},
      // Options as deployment tools write them, with a dash.
      {L"Install.exe -S -D=C:\\Apps -lang=fr", true, false, L"C:\\Apps", {}, {}, Languages::French},
      {L"Install.exe -?", false, true},
  };
  // Also under a Turkish locale, whose upper case of "i" is not "I".
  for (const LanguageId locale : {Languages::English, Languages::Turkish}) {
    setCurrentLanguage(locale);
    for (const Accepted& c : cases) {
      SCOPED_TRACE(testing::Message() << c.commandLine << " under locale " << locale);
      const ParsedCommandLine parsed = parseCommandLine(c.commandLine);
      ASSERT_FALSE(parsed.error) << parsed.error->option;
      const InstallOptions& o = parsed.options;
      EXPECT_EQ(o.unattended, c.unattended);
      EXPECT_EQ(o.help, c.help);
      EXPECT_EQ(o.installFolder, c.installFolder);
      EXPECT_EQ(o.menuFolder, c.menuFolder);
      ASSERT_EQ(o.shortcuts.has_value(), c.shortcuts.has_value());
      if (o.shortcuts) {
        EXPECT_EQ(o.shortcuts->menu, c.shortcuts->first);
        EXPECT_EQ(o.shortcuts->desktop, c.shortcuts->second);
      }
      EXPECT_EQ(o.language, c.language);
      EXPECT_EQ(o.logFile, c.logFile);
    }
  }
  setCurrentLanguage(Languages::French);
}

struct Refused {
  const wchar_t* commandLine;
  OptionFault fault;
  const wchar_t* option;
  bool unattended = false;
};

TEST(CommandLine, RefusedFormsNameTheFirstWrongOption) {
  using F = OptionFault;
  const std::wstring longPath = L"/D=C:\\" + std::wstring(300, L'a');
  const std::wstring longArgument = L"/" + std::wstring(200, L'x');
  const std::wstring longLine = L"Install.exe " + longPath;
  const std::wstring unknownLine = L"Install.exe " + longArgument;
  const std::wstring shownArgument = L"/" + std::wstring(79, L'x');  // 80 characters
  const std::vector<Refused> cases = {
      {L"Install.exe /X", F::Unknown, L"/X"},
      {L"Install.exe install", F::Unknown, L"install"},
      {L"Install.exe --S", F::Unknown, L"--S"},
      {L"Install.exe -S /s", F::Repeated, L"/S", true},
      {L"Install.exe \"\"", F::Unknown, L""},
      {L"Install.exe /BOGUS /S", F::Unknown, L"/BOGUS", true},
      {L"Install.exe /X /D", F::Unknown, L"/X"},
      {unknownLine.c_str(), F::Unknown, shownArgument.c_str()},
      {L"Install.exe /S=1", F::BadValue, L"/S"},
      {L"Install.exe /D", F::MissingValue, L"/D"},
      {L"Install.exe /D= /S", F::MissingValue, L"/D", true},
      {L"Install.exe /LOG=\"\"", F::MissingValue, L"/LOG"},
      {L"Install.exe /S /s", F::Repeated, L"/S", true},
      {L"Install.exe /? /HELP", F::Repeated, L"/HELP"},
      {L"Install.exe /LANG=fr /LANG=de", F::Repeated, L"/LANG"},
      {L"Install.exe /D=Apps\\T7", F::RelativePath, L"/D"},
      {L"Install.exe /D=\\Apps", F::RelativePath, L"/D"},
      {L"Install.exe /D=C:Apps", F::RelativePath, L"/D"},
      {L"Install.exe /D=\\\\server\\share\\T7", F::RelativePath, L"/D"},
      {L"Install.exe /LOG=install.log", F::RelativePath, L"/LOG"},
      {L"Install.exe /D=C:\\Apps\\..\\Windows", F::NotAPath, L"/D"},
      {L"Install.exe /D=C:\\Apps\\.\\T7", F::NotAPath, L"/D"},
      {L"Install.exe /D=C:\\Apps\\T7.", F::NotAPath, L"/D"},
      {L"Install.exe /D=\"C:\\Apps\\T7 \"", F::NotAPath, L"/D"},
      {L"Install.exe /D=C:\\Apps\\NUL", F::NotAPath, L"/D"},
      {L"Install.exe /D=C:\\Apps\\com1.txt", F::NotAPath, L"/D"},
      {L"Install.exe /D=C:\\Ap|ps", F::NotAPath, L"/D"},
      {L"Install.exe /D=C:\\Apps\\T?", F::NotAPath, L"/D"},
      {L"Install.exe /D=C:/Apps", F::NotAPath, L"/D"},
      {L"Install.exe /D=C:\\Apps\\\\T7", F::NotAPath, L"/D"},
      {longLine.c_str(), F::NotAPath, L"/D"},
      // An unterminated quote takes the rest of the line, /S included.
      {L"Install.exe /D=\"C:\\Apps /S", F::NotAPath, L"/D"},
      {L"Install.exe /LOG=C:\\", F::NotAPath, L"/LOG"},
      {L"Install.exe /LOG=C:\\logs\\", F::NotAPath, L"/LOG"},
      {L"Install.exe /MENU=..\\Startup", F::NotAPath, L"/MENU"},
      {L"Install.exe /MENU=\\Nuvelle", F::NotAPath, L"/MENU"},
      {L"Install.exe /MENU=C:Nuvelle", F::NotAPath, L"/MENU"},
      {L"Install.exe /SHORTCUTS=menu,menu", F::BadValue, L"/SHORTCUTS"},
      {L"Install.exe /SHORTCUTS=start", F::BadValue, L"/SHORTCUTS"},
      {L"Install.exe /SHORTCUTS=none,menu", F::BadValue, L"/SHORTCUTS"},
      {L"Install.exe /SHORTCUTS=menu,", F::BadValue, L"/SHORTCUTS"},
      {L"Install.exe /LANG=xx", F::BadValue, L"/LANG"},
      {L"Install.exe /LANG=da", F::BadValue, L"/LANG"},  // not a product language
      {L"Install.exe /LANG=6", F::BadValue, L"/LANG"},
      {L"Install.exe /LANG=21", F::BadValue, L"/LANG"},
      {L"Install.exe /LANG=100", F::BadValue, L"/LANG"},
      {L"Install.exe /LANG=-1", F::BadValue, L"/LANG"},
  };
  for (const Refused& c : cases) {
    SCOPED_TRACE(testing::Message() << c.commandLine);
    const ParsedCommandLine parsed = parseCommandLine(c.commandLine);
    ASSERT_TRUE(parsed.error);
    EXPECT_EQ(static_cast<int>(parsed.error->fault), static_cast<int>(c.fault));
    EXPECT_EQ(parsed.error->option, c.option);
    EXPECT_EQ(parsed.options.unattended, c.unattended);
  }
}

// Each program knows its own options: the uninstaller takes /S, /REMOVEEXAMPLES, /LOG and help,
// and none of the installer's choices of folders, shortcuts or language.
TEST(CommandLine, TheUninstallerKnowsOnlyItsOwnOptions) {
  const ParsedCommandLine accepted = parseCommandLine(
      L"Uninstall.exe /s /RemoveExamples /LOG=\"C:\\Logs\\u 1.log\"", Program::Uninstaller);
  ASSERT_FALSE(accepted.error);
  EXPECT_TRUE(accepted.options.unattended);
  EXPECT_TRUE(accepted.options.removeExamples);
  EXPECT_EQ(accepted.options.logFile, std::optional<std::wstring>(L"C:\\Logs\\u 1.log"));

  const std::vector<std::pair<const wchar_t*, Program>> refused = {
      {L"Uninstall.exe /D=C:\\T7", Program::Uninstaller},
      {L"Uninstall.exe /LANG=fr", Program::Uninstaller},
      {L"Uninstall.exe /SHORTCUTS=none", Program::Uninstaller},
      {L"Uninstall.exe /MENU=Nuvelle", Program::Uninstaller},
      {L"Install.exe /REMOVEEXAMPLES", Program::Installer},
  };
  for (const auto& [line, program] : refused) {
    SCOPED_TRACE(testing::Message() << line);
    const ParsedCommandLine parsed = parseCommandLine(line, program);
    ASSERT_TRUE(parsed.error);
    EXPECT_EQ(static_cast<int>(parsed.error->fault), static_cast<int>(OptionFault::Unknown));
  }
  EXPECT_EQ(static_cast<int>(parseCommandLine(L"Uninstall.exe /REMOVEEXAMPLES=1",
                                              Program::Uninstaller).error->fault),
            static_cast<int>(OptionFault::BadValue));
}

// Every fault has its own sentence, naming the option (and the system's reason for the log).
TEST(CommandLine, EveryFaultIsDescribedWithItsOption) {
  setCurrentLanguage(Languages::English);
  std::vector<std::wstring> texts;
  for (OptionFault fault : {OptionFault::Unknown, OptionFault::MissingValue, OptionFault::Repeated,
                            OptionFault::RelativePath, OptionFault::NotAPath,
                            OptionFault::BadValue, OptionFault::NotWritable}) {
    const std::wstring text = describeOptionError({fault, L"/OPTION", L"Access is denied."});
    EXPECT_NE(text.find(L"/OPTION"), std::wstring::npos) << text;
    EXPECT_EQ(std::count(texts.begin(), texts.end(), text), 0) << text;
    texts.push_back(text);
  }
  EXPECT_EQ(texts.back(), L"The file of the option /OPTION cannot be written: Access is denied.");
  setCurrentLanguage(Languages::German);
  EXPECT_EQ(describeOptionError({OptionFault::Repeated, L"/D", {}}),
            L"Die Option /D ist mehrfach angegeben.");
  setCurrentLanguage(Languages::French);
}

class FolderOnMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() /
           (L"nv_command_line_" + std::to_wstring(::GetCurrentProcessId()));
    fs::create_directories(root / L"existing");
    std::ofstream(root / L"file.txt") << "a file";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  fs::path root;
};

TEST_F(FolderOnMachine, AFolderThatCanBeMadePassesOneThatRunsIntoAFileDoesNot) {
  const struct {
    fs::path folder;
    bool possible;
  } cases[] = {
      {root / L"existing", true},
      {root / L"existing" / L"new" / L"deeper", true},
      {root / L"new", true},
      {root / L"file.txt", false},
      {root / L"file.txt" / L"below", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder.string());
    const auto error = checkFolderOnMachine(L"/D", c.folder.wstring());
    EXPECT_EQ(!error, c.possible);
    if (error) {
      EXPECT_EQ(error->fault, OptionFault::NotAPath);
      EXPECT_EQ(error->option, L"/D");
      // The refusal names the value and the file in the way.
      setCurrentLanguage(Languages::English);
      EXPECT_EQ(describeOptionError(*error),
                L"The option /D=" + c.folder.wstring() + L" is refused: " +
                    (root / L"file.txt").wstring() + L" is a file, not a folder.");
    }
  }
}

TEST_F(FolderOnMachine, AMissingDriveCannotHoldAFolder) {
  wchar_t drive = 0;
  for (wchar_t letter = L'Q'; letter <= L'Y' && !drive; ++letter)
    if (!(::GetLogicalDrives() & (1u << (letter - L'A')))) drive = letter;
  if (!drive) GTEST_SKIP() << "every drive letter from Q to Y is in use";
  const std::wstring folder = std::wstring(1, drive) + L":\\Apps\\T7";
  const auto error = checkFolderOnMachine(L"/MENU", folder);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->option, L"/MENU");
  setCurrentLanguage(Languages::English);
  EXPECT_EQ(describeOptionError(*error), L"The option /MENU=" + folder + L" is refused: the drive " +
                                             folder.substr(0, 2) + L" does not exist.");
}

}  // namespace
