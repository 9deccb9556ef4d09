#include "uninstaller/removal_plan.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using engine::JournalRecord;
using engine::RecordKind;
using uninstaller::PathVerdict;
using uninstaller::StepKind;

const std::wstring kInstall = L"C:\\Program Files\\Nuvelle\\Tessaline 7";
const std::wstring kMenu = L"C:\\ProgramData\\Start Menu\\Programs\\Nuvelle\\Tessaline 7";

uninstaller::RemovalPlaces places() {
  uninstaller::RemovalPlaces result;
  result.installFolder = kInstall;
  result.menuFolder = kMenu;
  result.makerDataFolder = L"C:\\ProgramData\\Nuvelle";
  result.commonDesktop = L"C:\\Users\\Public\\Desktop";
  return result;
}

JournalRecord record(RecordKind kind, std::wstring path, int payloadKind = -1, bool done = true) {
  JournalRecord r;
  r.kind = kind;
  r.path = std::move(path);
  r.payloadKind = payloadKind;
  r.done = done;
  return r;
}

// A log as an update leaves it: a folder, files of every kind, shortcuts, DirectX, the key and the
// registration, and records that were not carried out.
std::vector<JournalRecord> log() {
  return {
      record(RecordKind::CreatedFolder, kInstall),
      record(RecordKind::InstalledFile, kInstall + L"\\Lang\\T.de.dll", 0),
      record(RecordKind::InstalledFile, kInstall + L"\\Tessaline.exe", 1),
      record(RecordKind::InstalledFile, kInstall + L"\\Old.exe", 1, false),
      record(RecordKind::InstalledFile, L"C:\\ProgramData\\Nuvelle\\Materials\\Metal.mat", 3),
      record(RecordKind::InstalledFile, L"C:\\Users\\Public\\Desktop\\Ex\\First.tsl", 4),
      record(RecordKind::InstalledFile, L"C:\\Windows\\System32\\kernel32.dll", 2),
      record(RecordKind::InstalledFile, kInstall + L"\\Temp.cab", 5),
      record(RecordKind::MenuShortcut, kMenu + L"\\T.lnk"),
      record(RecordKind::DesktopShortcut, L"", -1, false),
      record(RecordKind::DirectXUpdate, L"Updating DirectX..."),
      record(RecordKind::UninstallKey, L""),
      record(RecordKind::ProductRegistration, L""),
  };
}

struct Expected {
  StepKind kind;
  std::wstring path;
  PathVerdict verdict = PathVerdict::allowed;
};

void expectSteps(const std::vector<uninstaller::PlannedStep>& steps,
                 const std::vector<Expected>& expected) {
  ASSERT_EQ(steps.size(), expected.size());
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "step " << i);
    EXPECT_EQ(steps[i].kind, expected[i].kind);
    EXPECT_EQ(steps[i].path, expected[i].path);
    if (steps[i].kind == StepKind::refuse) {
      EXPECT_EQ(steps[i].verdict, expected[i].verdict);
    }
  }
}

TEST(RemovalPlan, DoneRecordsNewestFirstEachRemovedKeptOrRefused) {
  const auto records = log();
  const std::vector<Expected> kept = {
      {StepKind::unregisterProduct, kInstall + L"\\Tessaline.exe"},
      {StepKind::removeUninstallKey, L""},
      {StepKind::keepDirectX, L"Updating DirectX..."},
      {StepKind::removeShortcut, kMenu + L"\\T.lnk"},
      {StepKind::refuse, kInstall + L"\\Temp.cab", PathVerdict::outside},
      {StepKind::refuse, L"C:\\Windows\\System32\\kernel32.dll", PathVerdict::outside},
      {StepKind::keepExample, L"C:\\Users\\Public\\Desktop\\Ex\\First.tsl"},
      {StepKind::keepShared, L"C:\\ProgramData\\Nuvelle\\Materials\\Metal.mat"},
      {StepKind::removeFile, kInstall + L"\\Tessaline.exe"},
      {StepKind::removeFile, kInstall + L"\\Lang\\T.de.dll"},
      {StepKind::removeFolder, kInstall},
  };
  expectSteps(uninstaller::planRemoval(records, places(), false), kept);

  // With the box checked the example goes; everything else stays as it was.
  auto removed = kept;
  removed[6] = {StepKind::removeFile, L"C:\\Users\\Public\\Desktop\\Ex\\First.tsl"};
  expectSteps(uninstaller::planRemoval(records, places(), true), removed);
  EXPECT_TRUE(uninstaller::hasExamples(records));
}

TEST(RemovalPlan, UnregistrationNeedsAnInstalledMainProgramInItsPlace) {
  auto records = log();
  EXPECT_EQ(uninstaller::planRemoval(records, places(), false).front().path,
            kInstall + L"\\Tessaline.exe");
  records[2].path = L"C:\\Elsewhere\\Tessaline.exe";  // a main program outside the installation
  const auto steps = uninstaller::planRemoval(records, places(), false);
  ASSERT_EQ(steps.front().kind, StepKind::unregisterProduct);
  EXPECT_TRUE(steps.front().path.empty());
  records[5].done = false;
  EXPECT_FALSE(uninstaller::hasExamples(records));
}

}  // namespace
