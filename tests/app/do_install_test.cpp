#include "app/extraction_callback.h"
#include "payload/compress_error.h"
#include "app/install_app.h"
#include "localization/languages.h"
#include "run/log_file.h"
#include "app/progress_pages.h"
#include "app/unattended_install.h"

#include <windows.h>
#include <commctrl.h>
#include <sddl.h>
#include <shlobj.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/page_host.h"

#include "transaction/journal_folder.h"
#include "machine/machine_folders.h"
#include "transaction/interrupted_runs.h"
#include "payload/payload_digest.h"
#include "payload/payload_notification.h"
#include "steps/product_registration.h"
#include "nv/unique_handle.h"
#include "nv/fatal_error.h"
#include "nv/link_test_support.h"
#include "nv/product_test_support.h"
#include "nv/utf8.h"
#include "payload/payload_test_support.h"
#include "resources/resource_ids.h"
#include "run/text_lines.h"

namespace {

using text_test::lines;

using namespace payload_test;
using engine::PayloadKind;

// The lines written since the last line of dashes (the banner of the latest run).
std::vector<std::wstring> runLines(const std::wstring& text) {
  const auto all = lines(text);
  std::size_t banner = all.size();
  for (std::size_t i = 0; i < all.size(); ++i)
    if (!all[i].empty() && all[i].find_first_not_of(L'-') == std::wstring::npos) banner = i;
  if (banner == all.size()) return {};
  return {all.begin() + static_cast<std::ptrdiff_t>(banner) + 1, all.end()};
}

fs::path ownFolder() {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return fs::path(self).parent_path();
}

// Every file and folder below `root` with its content ("<dir>" for folders).
std::map<std::wstring, std::string> treeOf(const fs::path& root) {
  std::map<std::wstring, std::string> tree;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(root, ec))
    tree[e.path().wstring()] = e.is_directory() ? "<dir>" : read_file(e.path());
  return tree;
}

// Every key and value below `key`, as text.
void dumpKey(HKEY key, const std::wstring& prefix, std::map<std::wstring, std::wstring>& out) {
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLength = 256, type = 0, size = 0;
    BYTE data[2048];
    size = sizeof data;
    if (::RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
      break;
    out[prefix + L"=" + name] = std::to_wstring(type) + L":" +
                                std::wstring(reinterpret_cast<wchar_t*>(data), size / 2);
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLength = 256;
    if (::RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    out[prefix + L"\\" + name] = L"<key>";
    HKEY sub = nullptr;
    if (::RegOpenKeyExW(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
      nv::reg_key owner(sub);
      dumpKey(sub, prefix + L"\\" + name, out);
    }
  }
}

std::map<std::wstring, std::wstring> machineRegistry() {
  std::map<std::wstring, std::wstring> out;
  dumpKey(HKEY_LOCAL_MACHINE, L"", out);
  return out;
}

// Working folders of the installer left in the system temporary folder.
std::size_t workingFolders() {
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH + 1, temp);
  std::size_t count = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(temp, ec))
    count += e.path().filename().wstring().rfind(L"nuvelle_{", 0) == 0;
  return count;
}

void WINAPI ignoreShellNotify(LONG, UINT, LPCVOID, LPCVOID) {}

// Stands for memory running out once the product has registered itself, after the extraction,
// the shortcuts, the DirectX step and the registry.
void WINAPI throwingShellNotify(LONG, UINT, LPCVOID, LPCVOID) { throw std::bad_alloc(); }

// Opens `path` in this process with `share` as the only access others keep.
nv::unique_handle holdOpen(const fs::path& path, DWORD access, DWORD share) {
  return nv::unique_handle(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The line the log shows under a failure of a file: the system's English text and the path.
std::wstring systemFailure(DWORD code, const fs::path& path) {
  return nv::system_message(code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)) + L" (" +
         path.wstring() + L")";
}

// The text of a UTF-8 file, as the /LOG file is written.
std::wstring utf8File(const fs::path& path) { return nv::from_utf8(read_file(path)); }

class DoInstallTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    setCurrentLanguage(Languages::English);
  }

  void SetUp() override {
    ASSERT_NE(host.hwnd, nullptr);
    install = scratch.path() / L"Tessaline7";
    app.installFolder = install.wstring();
    app.menuFolder = (scratch.path() / L"Menu" / L"Tessaline 7").wstring();
    app.createMenuShortcut = true;
    app.createDesktopShortcut = false;  // the desktop is not private to the test
    ASSERT_TRUE(page.Create(host.hwnd));
    // On a real machine the parent of the uninstall keys exists; Wine also writes its profile
    // list below HKEY_LOCAL_MACHINE on the first known-folder lookup, which is done here once so
    // that the registry snapshots of the failure cases see only what the installation did.
    nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE, engine::uninstallKeyParent);
    wchar_t folder[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, folder);
    engine::machine_wide_folders();  // the other shared folders, looked up once per process
    previousNotify = engine::SetShellNotifyFunction(&ignoreShellNotify);
    // The runs' journal files go below the scratch folder, whose tree the failure cases compare.
    previousJournalFolder = engine::SetJournalFolderPath(journalFolder().wstring());
    const std::wstring mutexName = L"DoInstallTestMutex" + std::to_wstring(::GetCurrentProcessId());
    ::SetEnvironmentVariableW(L"NV_STANDIN_MUTEX", mutexName.c_str());
    ::SetEnvironmentVariableW(L"NV_STANDIN_RECORD", (scratch.path() / L"record.txt").c_str());
    mainProgram = read_file(ownFolder() / L"Tessaline.exe");
    dsetup = read_file(ownFolder() / L"DSetup.dll");
    ASSERT_FALSE(mainProgram.empty());
    ASSERT_FALSE(dsetup.empty());
  }

  void TearDown() override {
    engine::SetJournalFolderPath(previousJournalFolder);
    SetPayloadSource({});
    engine::SetShellNotifyFunction(previousNotify);
    for (const wchar_t* name : {L"NV_STANDIN_MUTEX", L"NV_STANDIN_RECORD"})
      ::SetEnvironmentVariableW(name, nullptr);
    page.DestroyWindow();
  }

  // Serves `archive` as the payload of the next runs.
  void usePayload(std::string archive) {
    archive_ = std::move(archive);
    SetPayloadSource([this] {
      return PayloadBytes{std::span<const std::byte>(
                              reinterpret_cast<const std::byte*>(archive_.data()), archive_.size()),
                          std::span<const std::byte>(digest_)};
    });
  }

  // The product, its uninstaller, a language library in a folder with a blank, and the DirectX
  // setup for the working folder.
  std::vector<test_file> productFiles() {
    return {{L"Tessaline.exe", L"<InstallPath>", mainProgram, PayloadKind::MainProgram},
            {L"Uninstall.exe", L"<InstallPath>", "uninstaller", PayloadKind::Uninstaller},
            {L"lang.dll", L"<InstallPath>\\Language Files", "french", PayloadKind::LanguageLibrary},
            {L"DSetup.dll", L"<Temporary>", dsetup, PayloadKind::Temporary}};
  }

  std::wstring status() const {
    wchar_t text[512] = {};
    ::GetDlgItemTextW(page.hwnd(), IDC_STATUS, text, 512);
    return text;
  }
  int barPosition() const { return static_cast<int>(page.progressBar.send(PBM_GETPOS)); }
  std::vector<std::wstring> log() const { return runLines(page.logEdit.text()); }

  // Runs a failing installation and checks that files and registry are as before.
  void expectFailureUndone(const std::wstring& codeText) {
    const auto tree = treeOf(scratch.path());
    const auto registry = machineRegistry();
    const std::size_t folders = workingFolders();
    EXPECT_FALSE(page.DoInstall());
    EXPECT_EQ(status(), L"Installation failed (Error Code " + codeText + L").");
    EXPECT_EQ(treeOf(scratch.path()), tree);
    EXPECT_EQ(machineRegistry(), registry);
    EXPECT_EQ(workingFolders(), folders);
    EXPECT_TRUE(app.uninstallLog.records.empty());
  }

  // The summary of the fixture's options as the log file has it: no desktop shortcut.
  std::vector<std::wstring> fileSummary() const {
    const auto quoted = [](const std::wstring& path) {
      return path.find(L' ') == std::wstring::npos ? path : L"\"" + path + L"\"";
    };
    return {L"'Tessaline 7.08v' Installation.", CLogFile::bannerLine(L"Installation Options"),
            L"Installation Folder: " + quoted(app.installFolder) + L".",
            L"Creating a Shortcut in the Start Menu (Folder " + quoted(app.menuFolder) + L")."};
  }
  // The file's lines from the banner of the run on, the banner left out.
  static std::vector<std::wstring> afterBanner(const std::vector<std::wstring>& lines) {
    const auto banner = std::find(lines.begin(), lines.end(), std::wstring(72, L'-'));
    return banner == lines.end() ? std::vector<std::wstring>{}
                                 : std::vector<std::wstring>(banner + 1, lines.end());
  }

  std::wstring copying(const fs::path& path, bool quoted = false) const {
    const std::wstring shown = quoted ? L"\"" + path.wstring() + L"\"" : path.wstring();
    return L"Copying File  " + shown + L"...";
  }

  nv_test::scratch_machine_key machine;
  scratch_folder scratch;
  fs::path install;
  CInstallApp app;
  host_window host;
  CDlgInstall page;
  std::string mainProgram, dsetup, archive_;
  std::vector<std::byte> digest_;  // the digest resource the payload is served with; empty: none
  engine::ShellNotifyFunction previousNotify = nullptr;
  std::wstring previousJournalFolder;

  fs::path journalFolder() const { return scratch.path() / L"Journal"; }
};

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

// "The installer is damaged" is said of a damaged payload only.
TEST(FailureDetail, SaysThePayloadIsDamagedOnlyForItsProofOrItsDecompression) {
  using engine::compress_errc;
  const std::wstring damaged = localizedString(1133);
  const std::pair<compress_errc, bool> cases[] = {
      {compress_errc::invalid_checksum, false}, {compress_errc::verification_failed, true},
      {compress_errc::interrupted, false},      {compress_errc::bzip2_failure, true},
      {compress_errc::unexpected, false}};
  for (const auto& [code, isDamage] : cases) {
    SCOPED_TRACE(static_cast<int>(code));
    EXPECT_EQ(failureDetail(code, L""), isDamage ? damaged : L"");
    EXPECT_EQ(failureDetail(code, L"C:\\T\\a.dll"),
              (isDamage ? damaged + L" " : L"") + L"(C:\\T\\a.dll)");
  }
}

TEST_F(DoInstallTest, CorruptArchiveFailsWithCodeFourBeforeAnythingIsCreated) {
  std::string archive = bzip2(plain_archive(productFiles()));
  for (std::size_t i = archive.size() / 2; i < archive.size() / 2 + 64; ++i) archive[i] ^= 0x5A;
  usePayload(archive);
  expectFailureUndone(L"4");
  EXPECT_EQ(log(), (std::vector<std::wstring>{L"Preparing Installation...Failed",
                                              L"The installer is damaged. Download it again.",
                                              L""}));
  EXPECT_FALSE(fs::exists(install));
}

// An archive served with the digest `payload embed` records is proven by it: intact, it installs;
// any damage to the bytes or the digest fails at "Preparing Installation..." with code 4 before
// anything is created, as the decompression of the whole archive does without a digest.
TEST_F(DoInstallTest, ADigestProvesTheArchiveAndAnyDamageFailsBeforeAnythingIsCreated) {
  const std::string good = bzip2(plain_archive(productFiles()));
  const auto digestOf = [](const std::string& archive) {
    const auto d = engine::encode_payload_digest(engine::digest_of(
        {reinterpret_cast<const std::byte*>(archive.data()), archive.size()}));
    return std::vector<std::byte>(d.begin(), d.end());
  };
  const auto flipped = [&](std::size_t at) {
    std::string archive = good;
    archive[at] ^= 0x01;
    return archive;
  };
  const std::vector<std::byte> goodDigest = digestOf(good);
  const std::vector<std::byte> otherDigest = digestOf(bzip2(plain_archive({productFiles()[0]})));
  std::vector<std::byte> badMagic = goodDigest;
  badMagic[0] = std::byte{'X'};
  const struct {
    const char* what;
    std::string archive;
    std::vector<std::byte> digest;
  } damaged[] = {
      {"the first byte flipped", flipped(0), goodDigest},
      {"a byte in the middle flipped", flipped(good.size() / 2), goodDigest},
      {"the last byte flipped", flipped(good.size() - 1), goodDigest},
      {"cut", good.substr(0, good.size() - 1), goodDigest},
      {"the digest of another archive", good, otherDigest},
      {"a digest of another form", good, badMagic},
      {"a digest cut short", good, {goodDigest.begin(), goodDigest.end() - 1}},
  };
  for (const auto& c : damaged) {
    SCOPED_TRACE(c.what);
    digest_ = c.digest;
    usePayload(c.archive);
    expectFailureUndone(L"4");
    EXPECT_EQ(log(), (std::vector<std::wstring>{L"Preparing Installation...Failed",
                                                L"The installer is damaged. Download it again.",
                                                L""}));
    EXPECT_FALSE(fs::exists(install));
  }
  digest_ = goodDigest;
  usePayload(good);
  EXPECT_TRUE(page.DoInstall());
  EXPECT_TRUE(fs::exists(install / L"Tessaline.exe"));
}

TEST_F(DoInstallTest, CrcMismatchOnALaterEntryRollsBackEarlierFilesAndFolders) {
  fs::create_directories(install);
  write_file(install / L"Tessaline.exe", "previous product");  // replaced, then restored
  auto files = productFiles();
  auto entries = entries_of(files);
  entries[2].crc ^= 1;
  usePayload(bzip2(plain_archive(entries, files)));
  expectFailureUndone(L"3");
  const auto lines = log();
  ASSERT_EQ(lines.size(), 6u);
  const fs::path library = install / L"Language Files" / L"lang.dll";
  EXPECT_EQ(lines[3], copying(library, true) + L"Failed");
  // A written file that does not read back as the table says is not called a damaged installer.
  EXPECT_EQ(lines[4], L"(" + library.wstring() + L")");
  EXPECT_EQ(read_file(install / L"Tessaline.exe"), "previous product");
}

TEST_F(DoInstallTest, FileThatCannotBeBackedUpFailsWithTheBackupErrorAndStaysAsItWas) {
  // Another program keeps the old product open: it may be read and written, not moved away.
  fs::create_directories(install);
  const fs::path program = install / L"Tessaline.exe";
  write_file(program, "previous product");
  usePayload(bzip2(plain_archive(productFiles())));
  {
    const nv::unique_handle held =
        holdOpen(program, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(held);
    expectFailureUndone(L"1:00000020");
  }
  const auto lines = log();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], copying(program) + L"Failed");
  EXPECT_EQ(lines[2], systemFailure(ERROR_SHARING_VIOLATION, program));
  EXPECT_EQ(read_file(program), "previous product");
}

TEST_F(DoInstallTest, AdoptedSharedFileOutlivesTheRollbackOfALaterFailure) {
  // The user's file is open elsewhere without read sharing: no copy of it can be taken.
  const fs::path shared = install / L"Shared" / L"present.dat";
  fs::create_directories(shared.parent_path());
  write_file(shared, "user's own");
  auto files = productFiles();
  files.insert(files.begin(), {L"present.dat", L"<InstallPath>\\Shared", "new",
                               PayloadKind::SharedData});
  auto entries = entries_of(files);
  entries[3].crc ^= 1;  // the language library fails after the adoption
  usePayload(bzip2(plain_archive(entries, files)));
  {
    const nv::unique_handle held =
        holdOpen(shared, GENERIC_WRITE, FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ASSERT_TRUE(held);
    expectFailureUndone(L"3");
  }
  EXPECT_EQ(read_file(shared), "user's own");
}

TEST_F(DoInstallTest, ExceptionAfterTheExtractionRollsEverythingBack) {
  fs::create_directories(install);
  write_file(install / L"Tessaline.exe", "previous product");
  usePayload(bzip2(plain_archive(productFiles())));
  const auto registry = machineRegistry();
  engine::SetShellNotifyFunction(&throwingShellNotify);
  EXPECT_THROW(page.DoInstall(), std::bad_alloc);
  engine::SetShellNotifyFunction(&ignoreShellNotify);

  EXPECT_TRUE(app.uninstallLog.records.empty());
  EXPECT_EQ(read_file(install / L"Tessaline.exe"), "previous product");
  EXPECT_FALSE(fs::exists(install / L"Uninstall.exe"));
  EXPECT_FALSE(fs::exists(app.menuFolder)) << "the shortcuts and their folder";
  EXPECT_FALSE(fs::exists(app.tempFolder));
  // The uninstall key goes; the product path value is not journaled and stays.
  auto after = machineRegistry();
  after.erase(L"\\Software\\Nuvelle=Tessaline 7 Path");
  if (!registry.count(L"\\Software\\Nuvelle")) after.erase(L"\\Software\\Nuvelle");
  EXPECT_EQ(after, registry);
}

// Holds the last file from another process between its writing and its proof (the bar reaching
// 100), and lets go when the failure is shown, before the rollback deletes the file.
struct file_holder {
  static inline file_holder* active = nullptr;
  fs::path target;
  std::wstring eventName = L"do_install_hold_" + std::to_wstring(::GetCurrentProcessId());
  nv::unique_handle ready{::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str())};
  nv::unique_handle process;
  bool held = false;

  void hold() {
    const fs::path helper = ownFolder() / L"payload_hold_file.exe";
    std::wstring command =
        L"\"" + helper.wstring() + L"\" \"" + target.wstring() + L"\" " + eventName;
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(helper.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &si, &pi))
      return;
    nv::unique_handle thread(pi.hThread);
    process.reset(pi.hProcess);
    held = ::WaitForSingleObject(ready.get(), 20000) == WAIT_OBJECT_0;
  }
  void release() {
    if (!process) return;
    ::TerminateProcess(process.get(), 0);
    ::WaitForSingleObject(process.get(), 5000);
    process.reset();
  }
  ~file_holder() { release(); }

  static LRESULT CALLBACK barProc(HWND hwnd, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                  DWORD_PTR) {
    if (message == PBM_SETPOS && w == 100 && !active->process) active->hold();
    return ::DefSubclassProc(hwnd, message, w, l);
  }
  static LRESULT CALLBACK statusProc(HWND hwnd, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                     DWORD_PTR) {
    if (message == WM_SETTEXT &&
        std::wstring(reinterpret_cast<const wchar_t*>(l)).find(L"failed") != std::wstring::npos)
      active->release();
    return ::DefSubclassProc(hwnd, message, w, l);
  }
};

TEST_F(DoInstallTest, FileHeldByAnotherProcessFailsWithSharingViolationAndRollsBack) {
  auto files = productFiles();
  files.pop_back();  // the held file must be the last one
  usePayload(bzip2(plain_archive(files)));
  file_holder holder;
  holder.target = install / L"Language Files" / L"lang.dll";
  file_holder::active = &holder;
  ::SetWindowSubclass(page.progressBar.hwnd(), &file_holder::barProc, 2, 0);
  ::SetWindowSubclass(::GetDlgItem(page.hwnd(), IDC_STATUS), &file_holder::statusProc, 3, 0);
  expectFailureUndone(L"1:00000020");
  EXPECT_TRUE(holder.held) << "the helper did not take hold of the file";
  EXPECT_EQ(log().at(3), copying(holder.target, true) + L"Failed");
  EXPECT_EQ(log().at(4), systemFailure(ERROR_SHARING_VIOLATION, holder.target));
  file_holder::active = nullptr;
}

TEST_F(DoInstallTest, DiskFullFailsWithCode112AndRollsBack) {
  // Drive N: is a 4 MiB tmpfs that the test's fixture maps when it may mount one.
  const fs::path drive = L"N:\\";
  if (::GetFileAttributesW(L"N:\\nv_small_drive") == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "no small drive N: (mapping a tmpfs needs root and a mount the system allows)";
  install = drive / L"Tessaline7";
  app.installFolder = install.wstring();
  auto files = productFiles();
  files.insert(files.begin() + 2, {L"big.bin", L"<InstallPath>", std::string(8 << 20, 'x'),
                                   PayloadKind::LanguageLibrary});
  usePayload(bzip2(plain_archive(files)));
  const auto before = treeOf(drive);
  expectFailureUndone(L"1:00000070");
  EXPECT_EQ(log().at(3), copying(install / L"big.bin") + L"Failed");
  EXPECT_EQ(treeOf(drive), before);
}

struct local_free {
  void operator()(void* p) const { ::LocalFree(p); }
};

TEST_F(DoInstallTest, MakerKeyDenyingNewValuesUndoesEverything) {
  // Everyone is refused setting values and creating subkeys under the maker's key.
  PSECURITY_DESCRIPTOR raw = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:(D;;0x6;;;WD)(A;;KA;;;WD)", SDDL_REVISION_1, &raw, nullptr));
  std::unique_ptr<void, local_free> descriptor(raw);
  const nv::reg_key maker =
      nv_test::scratch_machine_key::create(HKEY_LOCAL_MACHINE, engine::makerKey);
  ASSERT_EQ(::RegSetKeySecurity(maker.get(), DACL_SECURITY_INFORMATION, raw), ERROR_SUCCESS);
  HKEY probe = nullptr;
  const LONG opened =
      ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, engine::makerKey, 0, KEY_SET_VALUE, &probe);
  nv::reg_key probeOwner(opened == ERROR_SUCCESS ? probe : nullptr);
  ASSERT_NE(opened, ERROR_SUCCESS) << "the key still lets values be set";

  usePayload(bzip2(plain_archive(productFiles())));
  expectFailureUndone(L"-1");
  const auto lines = log();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], localizedString(1131) + L"OK");
  EXPECT_EQ(lines[lines.size() - 2], L"Registry Data Writing...Failed");
}

TEST_F(DoInstallTest, WorkingFolderThatCannotBeNamedLeavesOnlyTheFailureLine) {
  wchar_t tmp[32768] = {}, temp[32768] = {};
  const bool hadTmp = ::GetEnvironmentVariableW(L"TMP", tmp, 32768) != 0;
  const bool hadTemp = ::GetEnvironmentVariableW(L"TEMP", temp, 32768) != 0;
  const std::wstring tooLong = L"C:\\" + std::wstring(300, L'x');
  ::SetEnvironmentVariableW(L"TMP", tooLong.c_str());
  ::SetEnvironmentVariableW(L"TEMP", tooLong.c_str());
  usePayload(bzip2(plain_archive(productFiles())));
  const bool done = page.DoInstall();
  ::SetEnvironmentVariableW(L"TMP", hadTmp ? tmp : nullptr);
  ::SetEnvironmentVariableW(L"TEMP", hadTemp ? temp : nullptr);

  EXPECT_FALSE(done);
  const auto lines = log();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind(L"Installation failed (Error Code ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(L"(GetTempPath)"), std::wstring::npos) << lines[0];
  EXPECT_EQ(status(), lines[0]);
  EXPECT_FALSE(fs::exists(install));
}

TEST_F(DoInstallTest, UninstallLogThatCannotBeWrittenStillCompletes) {
  fs::create_directories(install / L"Uninstall.ulog");  // a folder where the log should go
  usePayload(bzip2(plain_archive(productFiles())));
  EXPECT_TRUE(page.DoInstall());
  const auto lines = log();
  ASSERT_GE(lines.size(), 2u);
  // The step names why: the log cannot be created where a folder stands.
  EXPECT_EQ(lines[lines.size() - 2], L"Installation Data Writing...Failed (1:00000005)");
  EXPECT_EQ(status(), L"Click on 'Next' to continue.");
}

TEST_F(DoInstallTest, SecondRunAfterAFailureStartsAFreshBannerAndPaths) {
  std::string corrupt = bzip2(plain_archive(productFiles()));
  corrupt.resize(corrupt.size() / 2);
  usePayload(corrupt);
  EXPECT_FALSE(page.DoInstall());
  const std::wstring firstFolder = app.tempFolder;
  usePayload(bzip2(plain_archive(productFiles())));
  EXPECT_TRUE(page.DoInstall());
  EXPECT_NE(app.tempFolder, firstFolder) << "every run names a new working folder";
  EXPECT_EQ(log().front(), L"Preparing Installation...OK");
}

// A failed run, unattended or on the page with a log file: the file names the failure with its
// code, the machine is as before, and the page (when there is one) shows the same lines.
TEST_F(DoInstallTest, FailedRunNamesTheFailureInTheLogFileAndUndoesEverything) {
  std::string archive = bzip2(plain_archive(productFiles()));
  for (std::size_t i = archive.size() / 2; i < archive.size() / 2 + 64; ++i) archive[i] ^= 0x5A;
  usePayload(archive);
  for (const bool unattended : {true, false}) {
    SCOPED_TRACE(unattended ? "unattended" : "wizard");
    const fs::path logFile = scratch.path() / (unattended ? L"unattended.log" : L"wizard.log");
    ASSERT_FALSE(app.logFile.Open(logFile.wstring()));
    // The machine without the log files.
    const auto files = [&] {
      auto tree = treeOf(scratch.path());
      std::erase_if(tree, [](const auto& e) { return e.first.ends_with(L".log"); });
      return tree;
    };
    const auto tree = files();
    const auto registry = machineRegistry();
    const std::size_t folders = workingFolders();
    if (unattended)
      EXPECT_EQ(RunUnattendedInstall(app), UnattendedExit::Failed);
    else
      EXPECT_FALSE(page.DoInstall());
    EXPECT_EQ(files(), tree);
    EXPECT_EQ(machineRegistry(), registry);
    EXPECT_EQ(workingFolders(), folders);
    EXPECT_FALSE(fs::exists(install));

    const std::vector<std::wstring> run{L"Preparing Installation...Failed",
                                        L"The installer is damaged. Download it again.",
                                        L"Installation failed (Error Code 4).", L""};
    const auto written = text_test::withoutStamps(lines(utf8File(logFile)));
    ASSERT_GE(written.size(), 4u);
    EXPECT_EQ(std::vector<std::wstring>(written.begin(), written.begin() + 4), fileSummary());
    EXPECT_EQ(afterBanner(written), run);
    if (!unattended) {
      auto shown = log();
      shown.back() = status();  // the page shows the outcome in its status line
      EXPECT_EQ(shown, std::vector<std::wstring>(run.begin(), run.end() - 1));
    }
  }
}

}  // namespace
