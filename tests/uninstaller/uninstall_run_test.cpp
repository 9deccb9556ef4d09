#include "uninstaller/uninstall_run.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "machine/final_path_test_support.h"
#include "steps/product_registration.h"
#include "localization/languages.h"
#include "nv/product.h"
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
// also keeps a shared file.
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
        {StepKind::removeFolder, folder.wstring(), PathVerdict::allowed, root.path().wstring()},
    };
  }
  uninstaller::RunContext context() const { return {uninstaller, log, nullptr}; }
};

// The product's uninstall key in a scratch HKEY_LOCAL_MACHINE, for as long as it lives.
struct MachineWithUninstallKey {
  MachineWithUninstallKey() {
    nv::set_current_product(nv::tessaline_7);
    nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE,
                                         engine::ProductUninstallKeyPath().c_str());
  }
  nv_test::scratch_machine_key machine;
};

bool uninstallKeyExists() {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, engine::ProductUninstallKeyPath().c_str(), 0, KEY_READ,
                      &raw) != ERROR_SUCCESS)
    return false;
  ::RegCloseKey(raw);
  return true;
}

// A removal that leaves nothing but what is kept on purpose: everything the log names goes, the
// uninstall key and the log last, and the uninstaller with its folder after it has ended.
TEST(UninstallRun, RemovesKeepsThenLeavesItsOwnFilesForLater) {
  const MachineWithUninstallKey machine;
  Installation installation;
  auto plan = installation.plan();
  plan.insert(plan.begin(), {StepKind::removeUninstallKey, {}});
  plan.push_back({StepKind::keepDirectX, L"Mise à jour de DirectX..."});
  RecordedProgress progress;
  const auto result = uninstaller::RunRemoval(plan, installation.context(), progress);

  EXPECT_FALSE(fs::exists(installation.program));
  EXPECT_FALSE(fs::exists(installation.log));
  EXPECT_FALSE(uninstallKeyExists());
  EXPECT_TRUE(fs::exists(installation.shared));
  EXPECT_TRUE(fs::exists(installation.uninstaller));
  EXPECT_EQ(result.deferred,
            (std::vector<std::wstring>{installation.uninstaller, installation.folder.wstring()}));
  EXPECT_FALSE(result.incomplete);
  EXPECT_EQ(uninstaller::ExitCodeOf(result), uninstaller::UninstallExit::Removed);

  // The DirectX runtime is named in the uninstaller's language, whatever the log holds.
  const std::vector<std::wstring> summary = {
      formatLocalized(1176, {installation.program}),
      formatLocalized(1166, {installation.shared}),
      formatLocalized(1169, {L"DirectX"}),
      formatLocalized(1176, {installation.log}),
      formatLocalized(1187, {installation.uninstaller}),
      formatLocalized(1187, {installation.folder.wstring()}),
  };
  EXPECT_EQ(result.summary, summary);
  // Every log line ends with its outcome and names its object; nothing the finisher removes is
  // reported as removed already.
  const std::wstring ok = localizedString(1011) + L"\r\n";
  const std::wstring key = L"HKEY_LOCAL_MACHINE\\" + engine::ProductUninstallKeyPath();
  for (const auto& line : {formatLocalized(1156, {installation.program}) + ok,
                           formatLocalized(1166, {installation.shared}) + L"\r\n",
                           formatLocalized(1159, {key}) + ok,
                           formatLocalized(1156, {installation.log}) + ok,
                           formatLocalized(1187, {installation.folder.wstring()}) + L"\r\n",
                           localizedString(1170) + L"\r\n"})
    EXPECT_NE(progress.log.find(line), std::wstring::npos) << testing::PrintToString(line);
  EXPECT_EQ(progress.log.find(formatLocalized(1158, {installation.folder.wstring()})),
            std::wstring::npos);
  EXPECT_EQ(progress.status, localizedString(1170));
}

// Whatever stays of what the log names (refused, failed, or a product that could not unregister)
// keeps the way back: the uninstall key, the log and the uninstaller, with exit code 1603 and the
// summary saying what stays and why.
TEST(UninstallRun, AnythingLeftKeepsTheKeyTheLogAndTheUninstaller) {
  struct Case {
    const char* what;
    // Adds the step that leaves something; the end line and the summary line expected.
    std::function<void(Installation&, std::vector<uninstaller::PlannedStep>&, std::wstring& end,
                       std::wstring& line)>
        arrange;
  };
  const std::wstring system = L"C:\\Windows\\System32\\kernel32.dll";
  const std::vector<Case> cases = {
      {"a refused path",
       [&](Installation&, auto& plan, std::wstring& end, std::wstring& line) {
         plan.push_back({StepKind::refuse, system, PathVerdict::outside});
         end = formatLocalized(1184, {system});
         line = formatLocalized(1162, {system});
       }},
      {"a file that can be neither removed nor scheduled",
       [&](Installation& installation, auto& plan, std::wstring& end, std::wstring& line) {
         const fs::path blocked = installation.folder / L"Lang.dll";
         fs::create_directories(blocked);
         plan.insert(plan.begin(), {StepKind::removeFile, blocked.wstring()});
         end = formatLocalized(1172, {blocked.wstring()});
         line = formatLocalized(1182, {blocked.wstring()});
       }},
      {"a product that could not unregister",
       [&](Installation&, auto& plan, std::wstring& end, std::wstring& line) {
         // No main program in the log: nothing can unregister the product.
         plan.insert(plan.begin(), {StepKind::unregisterProduct, {}});
         const std::wstring product = nv::product_label(true);
         end = formatLocalized(1172, {product});
         line = formatLocalized(1185, {product});
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const MachineWithUninstallKey machine;
    Installation installation;
    auto plan = installation.plan();
    plan.insert(plan.begin(), {StepKind::removeUninstallKey, {}});
    std::wstring end, line;
    c.arrange(installation, plan, end, line);
    RecordedProgress progress;
    const auto result = uninstaller::RunRemoval(plan, installation.context(), progress);

    EXPECT_TRUE(result.incomplete);
    EXPECT_EQ(uninstaller::ExitCodeOf(result), uninstaller::UninstallExit::Failed);
    EXPECT_TRUE(uninstallKeyExists());
    EXPECT_TRUE(fs::exists(installation.log));
    EXPECT_TRUE(result.deferred.empty());
    // What could go went.
    EXPECT_FALSE(fs::exists(installation.program));
    EXPECT_EQ(progress.status, end);
    EXPECT_NE(std::find(result.summary.begin(), result.summary.end(), line), result.summary.end());
    EXPECT_EQ(result.summary.back(), localizedString(1183));
    EXPECT_NE(progress.log.find(localizedString(1183) + L"\r\n"), std::wstring::npos);
    EXPECT_EQ(progress.log.find(formatLocalized(1159, {L"HKEY_LOCAL_MACHINE\\" +
                                                       engine::ProductUninstallKeyPath()})),
              std::wstring::npos);
  }
}

// A file that no longer lies below its place when its turn comes (a folder on the way swapped for
// a junction while the product unregistered) is refused as the plan refuses a link on the way,
// and stays with the way back.
TEST(UninstallRun, AFileThatLeftItsPlaceSinceThePlanIsRefusedAndStays) {
  Installation installation;
  const engine_test::moved_final_paths moved(installation.program,
                                             L"C:\\windows\\system32\\Tessaline.exe");
  RecordedProgress progress;
  const auto result =
      uninstaller::RunRemoval(installation.plan(), installation.context(), progress);

  EXPECT_TRUE(fs::exists(installation.program));
  EXPECT_EQ(result.summary.at(0), formatLocalized(1164, {installation.program}));
  // The refusal ends its caption's line.
  EXPECT_NE(progress.log.find(formatLocalized(1156, {installation.program}) +
                              formatLocalized(1164, {installation.program}) + L"\r\n"),
            std::wstring::npos);
  EXPECT_TRUE(result.incomplete);
  EXPECT_TRUE(fs::exists(installation.folder));
  EXPECT_TRUE(fs::exists(installation.log));
}

}  // namespace
