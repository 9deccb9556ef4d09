#include "uninstaller/uninstall_run.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/final_path_test_support.h"
#include "localization/languages.h"
#include "nv/product_test_support.h"

namespace {

namespace fs = std::filesystem;
using uninstaller::PathVerdict;
using uninstaller::StepKind;

// What the run told the person watching, log text in one piece.
class RecordedProgress : public engine::InstallProgress {
 public:
  void setStatus(const std::wstring& text) override { status = text; }
  void appendLog(const std::wstring& text, bool) override { log += text; }
  HWND ownerWindow() const override { return nullptr; }
  std::wstring status;
  std::wstring log;
};

// An installation folder with a program, the uninstaller and its log, removed by a plan that
// also keeps a shared file and refuses a system file.
struct Installation {
  nv_test::temp_folder root;
  fs::path folder = root.path() / L"Tessaline 7";
  std::wstring program = (folder / L"Tessaline.exe").wstring();
  std::wstring uninstaller = (folder / L"Uninstall.exe").wstring();
  std::wstring log = (folder / L"Uninstall.ulog").wstring();
  std::wstring shared = (root.path() / L"Metal.mat").wstring();

  Installation() {
    setCurrentLanguage(Languages::English);
    fs::create_directories(folder);
    for (const auto& file : {program, uninstaller, log, shared}) std::ofstream(fs::path(file)) << "x";
  }

  std::vector<uninstaller::PlannedStep> plan() const {
    const std::wstring place = folder.wstring();
    return {
        {StepKind::removeFile, program, PathVerdict::allowed, place},
        {StepKind::removeFile, uninstaller, PathVerdict::allowed, place},
        {StepKind::keepShared, shared},
        {StepKind::refuse, L"C:\\Windows\\System32\\kernel32.dll", PathVerdict::outside},
        {StepKind::removeFolder, folder.wstring(), PathVerdict::allowed, root.path().wstring()},
    };
  }
  uninstaller::RunContext context() const { return {uninstaller, log, nullptr}; }
};

TEST(UninstallRun, RemovesKeepsAndRefusesThenLeavesItsOwnFilesForLater) {
  Installation installation;
  RecordedProgress progress;
  const auto result = uninstaller::RunRemoval(installation.plan(), installation.context(), progress);

  EXPECT_FALSE(fs::exists(installation.program));
  EXPECT_FALSE(fs::exists(installation.log));
  EXPECT_TRUE(fs::exists(installation.shared));
  // The running uninstaller and the folder that holds it go after it has ended.
  EXPECT_TRUE(fs::exists(installation.uninstaller));
  EXPECT_EQ(result.deferred,
            (std::vector<std::wstring>{installation.uninstaller, installation.folder.wstring()}));
  EXPECT_FALSE(result.incomplete);
  EXPECT_FALSE(result.restartNeeded);
  EXPECT_EQ(uninstaller::ExitCodeOf(result), uninstaller::UninstallExit::Removed);

  const std::vector<std::wstring> summary = {
      formatLocalized(1176, {installation.program}),
      formatLocalized(1176, {installation.uninstaller}),
      formatLocalized(1166, {installation.shared}),
      formatLocalized(1162, {L"C:\\Windows\\System32\\kernel32.dll"}),
      formatLocalized(1176, {installation.folder.wstring()}),
      formatLocalized(1176, {installation.log}),
  };
  EXPECT_EQ(result.summary, summary);
  const std::wstring ok = localizedString(1011) + L"\r\n";
  for (const auto& line : {formatLocalized(1156, {installation.program}) + ok,
                           formatLocalized(1166, {installation.shared}) + L"\r\n",
                           formatLocalized(1158, {installation.folder.wstring()}) + ok,
                           localizedString(1170) + L"\r\n"})
    EXPECT_NE(progress.log.find(line), std::wstring::npos) << testing::PrintToString(line);
  EXPECT_EQ(progress.status, localizedString(1170));
}

TEST(UninstallRun, AFileThatCannotGoKeepsTheLogAndTheUninstallerForAnotherTry) {
  Installation installation;
  // A folder where the log says a file is: it can be neither removed nor scheduled.
  const fs::path blocked = installation.folder / L"Lang.dll";
  fs::create_directories(blocked);
  auto plan = installation.plan();
  plan.insert(plan.begin(), {StepKind::removeFile, blocked.wstring()});
  RecordedProgress progress;
  const auto result = uninstaller::RunRemoval(plan, installation.context(), progress);

  EXPECT_TRUE(result.incomplete);
  EXPECT_EQ(result.firstFailure, blocked.wstring());
  EXPECT_TRUE(result.deferred.empty());
  EXPECT_TRUE(fs::exists(installation.log));
  EXPECT_FALSE(fs::exists(installation.program));
  EXPECT_EQ(uninstaller::ExitCodeOf(result), uninstaller::UninstallExit::Failed);
  EXPECT_EQ(progress.status, formatLocalized(1172, {blocked.wstring()}));
}

// A file that no longer lies below its place when its turn comes (a folder on the way swapped for
// a junction while the product unregistered) is refused as the plan refuses a link on the way.
TEST(UninstallRun, AFileThatLeftItsPlaceSinceThePlanIsRefusedAndStays) {
  Installation installation;
  const engine_test::moved_final_paths moved(installation.program,
                                             L"C:\\windows\\system32\\Tessaline.exe");
  RecordedProgress progress;
  const auto result =
      uninstaller::RunRemoval(installation.plan(), installation.context(), progress);

  EXPECT_TRUE(fs::exists(installation.program));
  EXPECT_EQ(result.summary.at(0), formatLocalized(1164, {installation.program}));
  EXPECT_NE(progress.log.find(formatLocalized(1164, {installation.program})), std::wstring::npos);
  // What is left is kept, as what the plan refuses is kept: the folder that holds it stays.
  EXPECT_FALSE(result.incomplete);
  EXPECT_TRUE(fs::exists(installation.folder));
}

}  // namespace
