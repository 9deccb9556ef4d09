// The install sequence's test fixture: a Progress page on a host window, a scratch machine
// (folders, HKEY_LOCAL_MACHINE, journal folder), payloads built from the product and DirectX
// stand-ins, and snapshots of files, registry and working folders for the failure cases.
#pragma once

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


namespace do_install_test {


using text_test::lines;

using namespace payload_test;
using engine::PayloadKind;

// The lines written since the last line of dashes (the banner of the latest run).
inline std::vector<std::wstring> runLines(const std::wstring& text) {
  const auto all = lines(text);
  std::size_t banner = all.size();
  for (std::size_t i = 0; i < all.size(); ++i)
    if (!all[i].empty() && all[i].find_first_not_of(L'-') == std::wstring::npos) banner = i;
  if (banner == all.size()) return {};
  return {all.begin() + static_cast<std::ptrdiff_t>(banner) + 1, all.end()};
}

inline fs::path ownFolder() {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return fs::path(self).parent_path();
}

// Every file and folder below `root` with its content ("<dir>" for folders).
inline std::map<std::wstring, std::string> treeOf(const fs::path& root) {
  std::map<std::wstring, std::string> tree;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(root, ec))
    tree[e.path().wstring()] = e.is_directory() ? "<dir>" : read_file(e.path());
  return tree;
}

// Every key and value below `key`, as text.
inline void dumpKey(HKEY key, const std::wstring& prefix,
                    std::map<std::wstring, std::wstring>& out) {
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

inline std::map<std::wstring, std::wstring> machineRegistry() {
  std::map<std::wstring, std::wstring> out;
  dumpKey(HKEY_LOCAL_MACHINE, L"", out);
  return out;
}

// Working folders of the installer left in the system temporary folder.
inline std::size_t workingFolders() {
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH + 1, temp);
  std::size_t count = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(temp, ec))
    count += e.path().filename().wstring().rfind(L"nuvelle_{", 0) == 0;
  return count;
}

inline void WINAPI ignoreShellNotify(LONG, UINT, LPCVOID, LPCVOID) {}

// Stands for memory running out once the product has registered itself, after the extraction,
// the shortcuts, the DirectX step and the registry.
inline void WINAPI throwingShellNotify(LONG, UINT, LPCVOID, LPCVOID) { throw std::bad_alloc(); }

// Opens `path` in this process with `share` as the only access others keep.
inline nv::unique_handle holdOpen(const fs::path& path, DWORD access, DWORD share) {
  return nv::unique_handle(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The line the log shows under a failure of a file: the system's English text and the path.
inline std::wstring systemFailure(DWORD code, const fs::path& path) {
  return nv::system_message(code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)) + L" (" +
         path.wstring() + L")";
}

// The text of a UTF-8 file, as the /LOG file is written.
inline std::wstring utf8File(const fs::path& path) { return nv::from_utf8(read_file(path)); }

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

}  // namespace do_install_test
