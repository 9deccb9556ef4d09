// The /LOG file: UTF-8 with CR LF, appended, each piece on disk as soon as it is written; banner
// lines; and the paths it refuses to open because they could lead somewhere else.
#include "run/log_file.h"

#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run/logged_progress.h"
#include "machine/machine_folders.h"
#include "run/run_header.h"
#include "nv/fixed_path.h"
#include "nv/own_executable.h"
#include "nv/utf8.h"
#include "nv/link_test_support.h"
#include "nv/product_test_support.h"

namespace {

namespace fs = std::filesystem;

std::string bytesOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The text with the local time stamp that starts each of its lines ("2026-12-11 03:20:27.123 ")
// taken out; `stamped` receives how many lines had one.
std::string withoutStamps(const std::string& text, int* stamped = nullptr) {
  static const std::regex stamp(R"((^|\n)\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
  if (stamped)
    *stamped = static_cast<int>(std::distance(std::sregex_iterator(text.begin(), text.end(), stamp),
                                              std::sregex_iterator()));
  return std::regex_replace(text, stamp, "$1");
}

// "install.log" in `folder`, holding the line of an earlier run.
fs::path logAfterAnEarlierRun(const nv_test::temp_folder& folder) {
  const fs::path path = folder.path() / L"install.log";
  std::ofstream(path, std::ios::binary) << "earlier run\r\n";
  return path;
}

TEST(LogFile, AppendsUtf8WithCrLfEachPieceWrittenAtOnce) {
  const nv_test::temp_folder folder;
  const fs::path path = logAfterAnEarlierRun(folder);
  CLogFile log;
  ASSERT_FALSE(log.Open(path.wstring()));
  ASSERT_TRUE(log.isOpen());

  log.write(L"Copying File  C:\\Apps\\T\u00e9st.dll...");
  // On disk before the line is complete: a run killed here still leaves it, with its time stamp.
  int stamped = 0;
  EXPECT_EQ(withoutStamps(bytesOf(path), &stamped),
            "earlier run\r\nCopying File  C:\\Apps\\T\xc3\xa9st.dll...");
  EXPECT_EQ(stamped, 1);
  log.write(L"OK\r\n");
  log.writeLine(L"first\nsecond\r\nthird");
  log.append(L"", false);
  log.append(L"Options", true);
  log.append(L"Plain", false);
  // Each line the run began has its stamp: the one line completed in two writes once.
  EXPECT_EQ(withoutStamps(bytesOf(path), &stamped),
            "earlier run\r\nCopying File  C:\\Apps\\T\xc3\xa9st.dll...OK\r\n"
            "first\r\nsecond\r\nthird\r\n" +
                std::string(72, '-') + "\r\n" + std::string(31, '-') + " Options " +
                std::string(32, '-') + "\r\nPlain");
  EXPECT_EQ(stamped, 7);
}

// A log in folders that do not exist yet gets them (a deployment tool names a fresh folder per
// run).
TEST(LogFile, CreatesTheFoldersThatHoldIt) {
  const nv_test::temp_folder folder;
  const fs::path path = folder.path() / L"logs" / L"2026-12" / L"install.log";
  CLogFile log;
  ASSERT_FALSE(log.Open(path.wstring()));
  log.writeLine(L"line");
  EXPECT_EQ(withoutStamps(bytesOf(path)), "line\r\n");
}

// The outcome line ends a run's log once: a failure the run logged as its last line (one before
// any change) is not repeated, a failure after other lines is.
TEST(LogFile, TheOutcomeIsWrittenOnce) {
  const nv_test::temp_folder folder;
  struct Case {
    const char* what;
    std::vector<std::wstring> lines;  // logged before the outcome
    std::wstring status;
    bool completed;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"a failure before any change", {L"Failed (code 5).\r\n"}, L"Failed (code 5).", false,
       "Failed (code 5).\r\n"},
      {"a failure after a step", {L"Copying File  a...", L"Failed\r\n"}, L"Failed (code 3).", false,
       "Copying File  a...Failed\r\nFailed (code 3).\r\n"},
      {"the same text before another line", {L"Failed (code 5).\r\n", L"Undone\r\n"},
       L"Failed (code 5).", false, "Failed (code 5).\r\nUndone\r\nFailed (code 5).\r\n"},
      {"a completed run", {L"Done.\r\n"}, L"Done.", true, "Done.\r\nComplete.\r\n"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path path = folder.path() / (std::to_wstring(++n) + L".log");
    CLogFile file;
    ASSERT_FALSE(file.Open(path.wstring()));
    CLoggedProgress logged(file, nullptr);
    for (const std::wstring& line : c.lines) logged.appendLog(line);
    if (c.completed)
      logged.setStatus(c.status);
    else
      logged.setFailure([&c] { return c.status; });
    logged.logOutcome(c.completed, [] { return std::wstring(L"Complete."); });
    EXPECT_TRUE(file.outcomeWritten());
    EXPECT_EQ(withoutStamps(bytesOf(path)), c.expected);
  }
}

// Each run opens with a separator and its header, one English "Name: value" line per fact: a
// line break in the command line cannot start a line of its own.
TEST(LogFile, EachRunOpensWithItsHeader) {
  const nv_test::temp_folder folder;
  const fs::path path = logAfterAnEarlierRun(folder);
  CLogFile log;
  ASSERT_FALSE(log.Open(path.wstring()));
  engine::WriteRunHeader(log, L"Install.exe /S\r\nExit code: 0.\n/D=C:\\T");
  log.writeLine(engine::RunKindLine(L"first\ninstallation"));

  const std::string program = nv::to_utf8(nv::fixed_path::file_name(nv::own_executable_path()));
  const std::vector<std::string> patterns = {
      "earlier run",
      std::string(72, '='),
      "Program: " + std::regex_replace(program, std::regex(R"([.])"), R"(\.)") + R"( 7\.8\.22\.1)",
      R"(Command line: Install\.exe /S  Exit code: 0\. /D=C:\\T)",
      R"(User: \S.*)",
      "Elevated: (yes|no)",
      R"(Windows: \d+\.\d+\.\d+)",
      "Run: first installation",
  };
  std::vector<std::string> lines;
  std::istringstream text(withoutStamps(bytesOf(path)));
  for (std::string line; std::getline(text, line);) {
    ASSERT_FALSE(line.empty() || line.back() != '\r') << "CR LF only";
    lines.push_back(line.substr(0, line.size() - 1));
  }
  ASSERT_EQ(lines.size(), patterns.size());
  for (std::size_t i = 0; i < lines.size(); ++i)
    EXPECT_TRUE(std::regex_match(lines[i], std::regex(patterns[i]))) << lines[i];
}

// The line that ends a run reaches the file in English and the window in the run's language.
TEST(LogFile, TheOutcomeIsEnglishInTheFileOnly) {
  struct Window : engine::InstallProgress {
    std::wstring status, log;
    void setStatus(const std::wstring& text) override { status = text; }
    void appendLog(const std::wstring& text, bool) override { log += text; }
    HWND ownerWindow() const override { return nullptr; }
  };
  const LocalText done = [] {
    return std::wstring(textLanguage() == Languages::English ? L"Done." : L"Fini.");
  };
  const nv_test::temp_folder folder;
  setCurrentLanguage(Languages::French);
  for (const bool appended : {true, false}) {
    SCOPED_TRACE(appended ? "appended as the last line" : "named at the end");
    const fs::path path = folder.path() / (appended ? L"appended.log" : L"named.log");
    CLogFile file;
    ASSERT_FALSE(file.Open(path.wstring()));
    Window window;
    CLoggedProgress logged(file, &window);
    logged.appendLog(L"Copie...OK\r\n");
    if (appended) {
      logged.appendOutcome(done);
      EXPECT_EQ(window.log, L"Copie...OK\r\nFini.\r\n");
    } else {
      logged.setFailure(done);
      logged.logOutcome(false, {});
    }
    EXPECT_EQ(window.status, L"Fini.");
    EXPECT_EQ(logged.status(), L"Fini.");
    EXPECT_TRUE(file.outcomeWritten());
    EXPECT_EQ(withoutStamps(bytesOf(path)), "Copie...OK\r\nDone.\r\n");
  }
  setCurrentLanguage(Languages::English);
}

TEST(LogFile, RefusesPathsThatCouldLeadElsewhere) {
  const nv_test::temp_folder temp;
  const nv_test::temp_folder machine(nv_test::system_folder(CSIDL_COMMON_APPDATA));
  engine::machine_wide_folders();  // looked up before the links are planted
  const nv_test::planted_links links({machine.path().wstring()});

  const fs::path original = temp.path() / L"original.log";
  std::ofstream(original) << "someone else's";
  const bool secondName =
      ::CreateHardLinkW((temp.path() / L"second.log").c_str(), original.c_str(), nullptr) != FALSE;

  const struct {
    const char* what;
    fs::path path;
    bool linkRefusal;
  } cases[] = {
      {"a folder", temp.path(), false},
      {"below a file", original / L"sub" / L"install.log", false},
      {"below a link in a folder every user can write to", machine.path() / L"install.log", true},
      {"a file with a second name", temp.path() / L"second.log", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (!secondName && c.path.filename() == L"second.log") continue;
    CLogFile log;
    const std::error_code error = log.Open(c.path.wstring());
    EXPECT_TRUE(error);
    EXPECT_EQ(error == engine::link_refused(), c.linkRefusal) << error.message();
    EXPECT_FALSE(log.isOpen());
    log.writeLine(L"nothing");
  }
  EXPECT_FALSE(fs::exists(machine.path() / L"install.log")) << "nothing made through the link";
  EXPECT_EQ(bytesOf(original), "someone else's");
  if (!secondName) GTEST_SKIP() << "no hard link could be made here; the second name is untested";
}

}  // namespace
