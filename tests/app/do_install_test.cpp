// The install sequence run for real on the Progress page: complete runs, updates, shared data,
// links below the machine-wide folders, the progress shown.
#include "app/do_install_fixture.h"

namespace {

using namespace do_install_test;

bool dispatchedDuringRun = false;
CDlgInstall* running = nullptr;

LRESULT CALLBACK recordPostedMessage(HWND hwnd, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                     DWORD_PTR) {
  if (message == WM_APP + 7)
    dispatchedDuringRun =
        running->logEdit.text().find(L"Preparing Installation...") != std::wstring::npos;
  return ::DefSubclassProc(hwnd, message, w, l);
}

TEST_F(DoInstallTest, FirstRunLogsEveryStepInstallsAndRegisters) {
  usePayload(bzip2(plain_archive(productFiles())));
  // A message posted before the run is dispatched while it runs, once the log has started.
  dispatchedDuringRun = false;
  running = &page;
  ASSERT_TRUE(::SetWindowSubclass(host.hwnd, &recordPostedMessage, 1, 0));
  ::PostMessageW(host.hwnd, WM_APP + 7, 0, 0);

  ASSERT_TRUE(page.DoInstall());
  EXPECT_TRUE(dispatchedDuringRun);

  const fs::path temp = app.tempFolder;
  const std::vector<std::wstring> expected{
      L"Preparing Installation...OK",
      copying(install / L"Tessaline.exe") + L"OK",
      copying(install / L"Uninstall.exe") + L"OK",
      copying(install / L"Language Files" / L"lang.dll", true) + L"OK",
      copying(temp / L"DSetup.dll") + L"OK",
      L"Shortcuts Creation...OK",
      localizedString(1131) + L"OK",
      L"Registry Data Writing...OK",
      L"Installation Data Writing...OK",
      L""};
  EXPECT_EQ(log(), expected);
  EXPECT_EQ(status(), L"Click on 'Next' to continue.");
  EXPECT_EQ(barPosition(), 100);
  const InstalledPrograms& programs = page.programs;
  EXPECT_EQ(programs.mainProgramPath, (install / L"Tessaline.exe").wstring());
  EXPECT_EQ(programs.uninstallerPath, (install / L"Uninstall.exe").wstring());

  EXPECT_NE(::GetFileAttributesW(programs.mainProgramPath.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_NE(::GetFileAttributesW(programs.uninstallerPath.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(read_file(install / L"Language Files" / L"lang.dll"), "french");
  EXPECT_TRUE(fs::exists(install / L"Uninstall.ulog"));
  EXPECT_FALSE(fs::exists(temp)) << "the working folder goes with the run";
  EXPECT_FALSE(fs::exists(journalFolder())) << "the run's journal and its folder";
  EXPECT_TRUE(fs::exists(scratch.path() / L"record.txt")) << "the product's registration run";

  wchar_t value[MAX_PATH] = {};
  DWORD size = sizeof value;
  EXPECT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Nuvelle", L"Tessaline 7 Path",
                           RRF_RT_REG_SZ, nullptr, value, &size), ERROR_SUCCESS);
  EXPECT_EQ(value, programs.mainProgramPath);

  // Files in the working folder are not journaled; every other file is, before the later steps.
  std::vector<std::wstring> files;
  for (const auto& r : app.uninstallLog.records)
    if (r.kind == engine::RecordKind::InstalledFile) files.push_back(r.path);
  const std::wstring library = (install / L"Language Files" / L"lang.dll").wstring();
  EXPECT_EQ(files, (std::vector<std::wstring>{programs.mainProgramPath, programs.uninstallerPath,
                                               library}));
  ::RemoveWindowSubclass(host.hwnd, &recordPostedMessage, 1);
}

// What another handle gets when it opens the working folder's setup library for writing or for
// deletion, tried when the DirectX step shows its caption.
struct lockProbe {
  static inline const CInstallApp* app = nullptr;
  static inline DWORD write = 0, remove = 0;
  static DWORD tryOpen(DWORD access) {
    const std::wstring library = app->tempFolder + L"\\DSetup.dll";
    nv::unique_handle file(::CreateFileW(library.c_str(), access,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    return file ? ERROR_SUCCESS : ::GetLastError();
  }
  static LRESULT CALLBACK statusProc(HWND hwnd, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                     DWORD_PTR) {
    if (message == WM_SETTEXT && reinterpret_cast<const wchar_t*>(l) == localizedString(1131)) {
      write = tryOpen(GENERIC_WRITE);
      remove = tryOpen(DELETE);
    }
    return ::DefSubclassProc(hwnd, message, w, l);
  }
};

TEST_F(DoInstallTest, WorkingFolderFilesAreLockedUntilTheDirectXStepIsOver) {
  usePayload(bzip2(plain_archive(productFiles())));
  lockProbe::app = &app;
  lockProbe::write = lockProbe::remove = 0;
  const HWND statusLine = ::GetDlgItem(page.hwnd(), IDC_STATUS);
  ::SetWindowSubclass(statusLine, &lockProbe::statusProc, 4, 0);
  EXPECT_TRUE(page.DoInstall());
  ::RemoveWindowSubclass(statusLine, &lockProbe::statusProc, 4);
  EXPECT_EQ(lockProbe::write, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(lockProbe::remove, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

// `<CommonData>` and the name of `folder` (below the all-users data), then `rest`.
std::wstring commonDataToken(const nv_test::temp_folder& folder, const wchar_t* rest) {
  return L"<CommonData>\\" + folder.path().filename().wstring() + rest;
}

TEST_F(DoInstallTest, ALinkBelowTheAllUsersDataFailsTheEntryAndRollsBack) {
  // A user made the maker's folder a junction before the installation.
  const nv_test::temp_folder common(nv_test::system_folder(CSIDL_COMMON_APPDATA));
  auto files = productFiles();
  files.push_back(
      {L"metal.mat", commonDataToken(common, L"\\Materials"), "metal", PayloadKind::SharedData});
  usePayload(bzip2(plain_archive(files)));
  const nv_test::planted_links links({common.path().wstring()});
  expectFailureUndone(L"1:00000780");
  EXPECT_TRUE(fs::is_empty(common.path())) << "nothing made or written through the link";
}

TEST_F(DoInstallTest, ASharedFileWithASecondNameIsLeftAlone) {
  const nv_test::temp_folder common(nv_test::system_folder(CSIDL_COMMON_APPDATA));
  const fs::path shared = common.path() / L"library.dat";
  write_file(shared, "system's own");
  if (!::CreateHardLinkW((common.path() / L"elsewhere.dat").c_str(), shared.c_str(), nullptr))
    GTEST_SKIP() << "no hard link could be made here";
  auto files = productFiles();
  files.push_back({L"library.dat", commonDataToken(common, L""), "new", PayloadKind::SharedData});
  usePayload(bzip2(plain_archive(files)));
  ASSERT_TRUE(page.DoInstall());
  EXPECT_EQ(read_file(shared), "system's own");
  for (const auto& r : app.uninstallLog.records)
    EXPECT_NE(r.path, shared.wstring()) << "neither adopted nor written";
}

TEST_F(DoInstallTest, ALinkBelowTheAllUsersStartMenuFailsOnlyTheShortcutStep) {
  const nv_test::temp_folder menu(nv_test::system_folder(CSIDL_COMMON_STARTMENU));
  app.menuFolder = (menu.path() / L"Tessaline 7").wstring();
  usePayload(bzip2(plain_archive(productFiles())));
  const nv_test::planted_links links({menu.path().wstring()});
  ASSERT_TRUE(page.DoInstall());
  const auto lines = log();
  EXPECT_NE(std::find(lines.begin(), lines.end(), L"Shortcuts Creation...Failed"), lines.end());
  EXPECT_TRUE(fs::is_empty(menu.path())) << "no folder made and no link saved through the link";
}

TEST_F(DoInstallTest, UpdateSkipsSamplesAndKnownSharedDataAndAdoptsPresentSharedData) {
  app.existingInstall = ExistingInstall::OlderVersion;
  app.previousVersion = 0x0007000800100000;
  const fs::path shared = install / L"Shared";
  fs::create_directories(shared);
  write_file(shared / L"present.dat", "user's own");
  // The previous installation recorded gone.dat; it was deleted since.
  app.uninstallLog.previousRecords.push_back(
      {engine::RecordKind::InstalledFile, (shared / L"gone.dat").wstring(), L"", true, 3});

  auto files = productFiles();
  files.insert(files.begin() + 2,
               {{L"sample.tsl", L"<SamplePath>", "sample", PayloadKind::Sample},
                {L"present.dat", L"<InstallPath>\\Shared", "new", PayloadKind::SharedData},
                {L"gone.dat", L"<InstallPath>\\Shared", "again", PayloadKind::SharedData},
                {L"fresh.dat", L"<InstallPath>\\Shared", "fresh", PayloadKind::SharedData}});
  usePayload(bzip2(plain_archive(files)));
  wchar_t desktop[MAX_PATH] = {};
  ASSERT_TRUE(::SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE));
  const fs::path samplesFolder = fs::path(desktop) / L"Tessaline Examples";
  ASSERT_FALSE(fs::exists(samplesFolder));

  ASSERT_TRUE(page.DoInstall());
  const auto lines = log();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[1], copying(install / L"Tessaline.exe") + L"OK");
  EXPECT_EQ(lines[2], copying(install / L"Uninstall.exe") + L"OK");
  EXPECT_EQ(lines[3], copying(shared / L"fresh.dat") + L"OK") << "nothing logged for the skipped";
  EXPECT_EQ(barPosition(), 100) << "the skipped entries still count";

  EXPECT_EQ(read_file(shared / L"present.dat"), "user's own");
  EXPECT_FALSE(fs::exists(shared / L"gone.dat"));
  EXPECT_EQ(read_file(shared / L"fresh.dat"), "fresh");

  // The previous log's survivor stands first in the merged journal; this run adds no other.
  std::map<std::wstring, std::vector<const engine::JournalRecord*>> journaled;
  for (const auto& r : app.uninstallLog.records)
    if (r.kind == engine::RecordKind::InstalledFile)
      journaled[fs::path(r.path).filename()].push_back(&r);
  EXPECT_EQ(journaled.count(L"sample.tsl"), 0u);
  EXPECT_EQ(journaled[L"gone.dat"].size(), 1u);
  ASSERT_EQ(journaled[L"present.dat"].size(), 1u) << "adopted";
  EXPECT_TRUE(journaled[L"present.dat"][0]->done);
  EXPECT_EQ(journaled[L"present.dat"][0]->payloadKind, 3);
  EXPECT_EQ(journaled[L"fresh.dat"].size(), 1u);
  EXPECT_FALSE(fs::exists(samplesFolder)) << "no sample folder on the public desktop";
}

// A payload that brings no uninstaller (a release engineer's slip): the log cannot be written, the
// step says why, and the run's journal still ends, so that the next start finds nothing to undo.
TEST_F(DoInstallTest, APayloadWithoutUninstallerStillEndsItsJournal) {
  std::vector<test_file> files = productFiles();
  files.erase(std::remove_if(files.begin(), files.end(),
                             [](const test_file& f) { return f.kind == PayloadKind::Uninstaller; }),
              files.end());
  usePayload(bzip2(plain_archive(files)));
  EXPECT_TRUE(page.DoInstall());
  const std::vector<std::wstring> lines = log();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], L"Installation Data Writing...Failed (1:00000002)");
  EXPECT_FALSE(fs::exists(journalFolder())) << "the run's journal was left for the next start";
  EXPECT_TRUE(engine::RecoverInterruptedRuns().runs.empty());
  EXPECT_TRUE(fs::exists(install / L"Tessaline.exe"));
}

TEST_F(DoInstallTest, ProgressShowsAHundredOnlyWhenEverythingIsDone) {
  std::istringstream none;
  CExtractionCallback callback(page, app, page.programs, none);
  callback(engine::progress{999'999, 1'000'000});
  EXPECT_EQ(barPosition(), 99);
  callback(engine::progress{1'000'000, 1'000'000});
  EXPECT_EQ(barPosition(), 100);
  callback(engine::progress{1, 200});
  EXPECT_EQ(barPosition(), 1);
}

}  // namespace
