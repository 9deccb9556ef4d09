// The install sequence run for real on the Progress page when something fails: a damaged
// payload, files that cannot be written or backed up, a full disk, a registry that refuses,
// an exception; each undone so that the machine is as before.
#include "app/do_install_fixture.h"

namespace {

using namespace do_install_test;

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
