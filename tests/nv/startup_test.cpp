#include "nv/startup.h"
#include "wine.h"

#include <windows.h>
#include <comdef.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <locale>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "nv/dll_search.h"
#include "nv/instance_tracking.h"
#include "nv/processor_check.h"
#include "nv/ui_hooks.h"
#include "nv/unique_handle.h"
#include "nv/unique_module.h"
#include "nv/version_info.h"

namespace {

using nv::details::common_controls_info;

constexpr DWORD kVersion582 = 0x50052;
constexpr DWORD kVersion581 = 0x50051;
constexpr DWORD kVersion6 = 0x60000;
constexpr DWORD kElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED

// The side-by-side folders of the program's own processor and of the other one.
#ifdef _WIN64
#define NV_OWN_ARCH L"amd64"
#define NV_OTHER_ARCH L"x86"
#else
#define NV_OWN_ARCH L"x86"
#define NV_OTHER_ARCH L"amd64"
#endif

const wchar_t kSideBySide6[] =
    L"C:\\windows\\winsxs\\" NV_OWN_ARCH L"_microsoft.windows.common-controls_6595b64144ccf1df_"
    L"6.0.2600.2982_none_deadbeef\\comctl32.dll";

std::wstring system_comctl32() {
  wchar_t system[MAX_PATH] = {};
  ::GetSystemDirectoryW(system, MAX_PATH);
  return std::wstring(system) + L"\\comctl32.dll";
}

// Every test leaves the start-up operations as it found them.
class StartupOps : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = nv::details::set_startup_ops({}); }
  void TearDown() override { nv::details::set_startup_ops(saved_); }

 private:
  nv::details::startup_ops saved_;
};

// ---- common controls ----------------------------------------------------------------------------

TEST(CommonControls, VersionSixOrTheSideBySideSixCopyPass) {
  // The version alone.
  EXPECT_TRUE(nv::details::common_controls_sufficient({kVersion6, L""}));
  EXPECT_TRUE(nv::details::common_controls_sufficient({0x60010, system_comctl32()}));
  EXPECT_FALSE(nv::details::common_controls_sufficient({kVersion582, system_comctl32()}));
  EXPECT_FALSE(nv::details::common_controls_sufficient({0, L""}));

  // A lower version from the side-by-side version 6 folder (Wine reports 5.81 there).
  EXPECT_TRUE(nv::details::common_controls_sufficient({kVersion581, kSideBySide6}));
  EXPECT_TRUE(nv::details::common_controls_sufficient(
      {0, L"c:\\WINDOWS\\WinSxS\\" NV_OWN_ARCH L"_Microsoft.Windows.Common-Controls_6595b64144ccf1df_"
          L"6.0.7601.17514_none_41e6975e2bd6f2b2\\COMCTL32.DLL"}));
}

TEST(CommonControls, OtherSideBySideFoldersDoNotPass) {
  const wchar_t* refused[] = {
      // the version 5.82 assembly
      L"C:\\windows\\winsxs\\" NV_OWN_ARCH L"_microsoft.windows.common-controls_6595b64144ccf1df_"
      L"5.82.7601.18837_none_ec86b8d6858ec0bc\\comctl32.dll",
      // another processor, not under winsxs, no folder at all
      L"C:\\windows\\winsxs\\" NV_OTHER_ARCH L"_microsoft.windows.common-controls_6595b64144ccf1df_"
      L"6.0.0.0_none_x\\comctl32.dll",
      L"C:\\temp\\" NV_OWN_ARCH L"_microsoft.windows.common-controls_6595b64144ccf1df_6.0.0.0_none_x"
      L"\\comctl32.dll",
      L"comctl32.dll",
  };
  for (const wchar_t* path : refused) {
    EXPECT_FALSE(nv::details::side_by_side_common_controls_6(path))
        << std::string(path, path + wcslen(path));
    EXPECT_FALSE(nv::details::common_controls_sufficient({kVersion582, path}));
  }
}

TEST(CommonControls, TheLoadedModuleOfThisProgramPasses) {
  // The test programs request common controls 6 in their manifest, as the installer does.
  const common_controls_info info = nv::details::read_common_controls();
  EXPECT_NE(info.version, 0u);
  EXPECT_FALSE(info.path.empty());
  EXPECT_TRUE(nv::details::common_controls_sufficient(info))
      << std::hex << info.version << " " << std::string(info.path.begin(), info.path.end());
  if (nv_testing::running_under_wine() && info.version < kVersion6) {
    // Only the folder lets Wine's version 6 copy through.
    EXPECT_TRUE(nv::details::side_by_side_common_controls_6(info.path));
  }
}

using PrepareLibrary = StartupOps;

TEST_F(PrepareLibrary, RefusesOldCommonControlsAndAcceptsVersionSix) {
  nv::details::startup_ops ops;
  common_controls_info answer{kVersion582, system_comctl32()};
  ops.common_controls = [&] { return answer; };
  nv::details::set_startup_ops(ops);
  const std::error_code refused = nv::details::prepare_library();
  EXPECT_TRUE(refused);
  EXPECT_EQ(refused.category(), std::system_category());

  answer = {kVersion6, system_comctl32()};
  EXPECT_FALSE(nv::details::prepare_library());
  answer = {kVersion581, kSideBySide6};
  EXPECT_FALSE(nv::details::prepare_library());
}

TEST_F(PrepareLibrary, AnUnresolvedKnownFolderIsTheFirstFailure) {
  bool controls_asked = false;
  nv::details::startup_ops ops;
  ops.resolve_known_folders = [] {
    throw std::system_error(static_cast<int>(E_INVALIDARG), std::system_category(), "known folder");
  };
  ops.common_controls = [&] {
    controls_asked = true;
    return common_controls_info{kVersion6, L""};
  };
  nv::details::set_startup_ops(ops);
  EXPECT_EQ(nv::details::prepare_library(),
            std::error_code(static_cast<int>(E_INVALIDARG), std::system_category()));
  EXPECT_FALSE(controls_asked);
}

TEST_F(PrepareLibrary, FailureShowsTheBoxOnceThenExitsWithMinusElevenAndRegistersNothing) {
  std::vector<std::string> events;
  nv::details::startup_ops ops;
  ops.common_controls = [] { return common_controls_info{kVersion582, system_comctl32()}; };
  ops.show_initialization_error = [&] { events.push_back("box"); };
  ops.exit = [&](int code) { events.push_back("exit " + std::to_string(code)); };
  nv::details::set_startup_ops(ops);

  nv::details::setup_library();

  EXPECT_EQ(events, (std::vector<std::string>{"box", "exit -11"}));
  EXPECT_TRUE(nv::application_id().empty()) << "nothing after the failed check ran";
}

// ---- process set-up -----------------------------------------------------------------------------

using ProcessSetup = StartupOps;

TEST_F(ProcessSetup, QuietErrorModeAndAnUnknownLocaleFallsBackToClassic) {
  const UINT before = ::GetErrorMode();
  int reported = 0;
  nv::details::startup_ops ops;
  ops.user_locale_name = [] { return std::string("xx-NOWHERE"); };
  ops.show_initialization_error = [&] { ++reported; };
  ops.exit = [&](int) { ++reported; };
  nv::details::set_startup_ops(ops);

  nv::details::setup_process();

  EXPECT_EQ(::GetErrorMode(), before | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  EXPECT_EQ(std::locale().name(), "C");
  EXPECT_EQ(reported, 0) << "the classic locale has the narrow classification facet";
  ::SetErrorMode(before);
}

TEST(ProcessLocale, TheUserLocaleOrClassicBecomesGlobal) {
  const std::string user = nv::details::user_locale_name();
  EXPECT_FALSE(user.empty());
  const bool named = nv::details::set_global_locale(user);
  EXPECT_EQ(std::locale().name(), named ? user : std::string("C"));
  EXPECT_TRUE(std::has_facet<std::ctype<char>>(std::locale()));
  nv::details::set_global_locale("C");
}

// ---- COM errors ---------------------------------------------------------------------------------

TEST(ComErrors, FailedCallsRaiseSystemErrorWithTheHresult) {
  nv::details::install_com_error_handler();
  try {
    _com_issue_error(E_NOINTERFACE);
    FAIL() << "no exception";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().category(), std::system_category());
    EXPECT_EQ(static_cast<HRESULT>(e.code().value()), E_NOINTERFACE);
  }
}

// ---- dialog-layer binding -----------------------------------------------------------------------

TEST(DialogLayerBinding, StartUpValuesOnceAndLaterReplacementsKept) {
  nv::ui_hooks saved = nv::ui_providers();
  nv::ui_providers() = {};
  EXPECT_EQ(nv::application_icon(), nullptr) << "no provider, no icon";

  EXPECT_TRUE(nv::details::initialize_mfc_lib());
  const nv::ui_hooks& hooks = nv::ui_providers();
  ASSERT_TRUE(hooks.application_name);
  EXPECT_EQ(_wcsicmp(hooks.application_name().c_str(), L"nv_startup_tests"), 0);
  ASSERT_TRUE(hooks.owner_window);
  EXPECT_EQ(hooks.owner_window(), nv::owner_windows{}) << "no main window at start-up";
  EXPECT_TRUE(hooks.application_icon);
  // Steps 2 and 3 ran on the way: this program is registered under its identifier.
  EXPECT_FALSE(nv::application_id().empty());
  EXPECT_GE(nv::running_instances(), 1u);

  // The dialog layer replaces a provider; a later start-up request keeps it.
  nv::ui_providers().application_name = [] { return std::wstring(L"Tessaline 7.08v"); };
  EXPECT_TRUE(nv::details::initialize_mfc_lib());
  EXPECT_EQ(nv::ui_providers().application_name(), L"Tessaline 7.08v");

  nv::ui_providers() = saved;
}

TEST(DialogLayerBinding, SafeOwnerIsTheTopLevelWindowOfTheMainWindow) {
  EXPECT_EQ(nv::safe_owner(nullptr), nv::owner_windows{});
  HWND top = ::CreateWindowExW(0, L"STATIC", L"main", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                               ::GetModuleHandleW(nullptr), nullptr);
  if (!top && nv_testing::running_under_wine())
    GTEST_SKIP() << "Wine creates no windows without a display; run the suite under Xvfb";
  ASSERT_NE(top, nullptr);
  HWND child = ::CreateWindowExW(0, L"STATIC", L"child", WS_CHILD, 0, 0, 5, 5, top, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(child, nullptr);

  // A top-level window without popups owns the box itself and is not disabled.
  EXPECT_EQ(nv::safe_owner(child), (nv::owner_windows{top, nullptr}));
  EXPECT_NE(::IsWindowEnabled(top), FALSE);

  // The bound owner provider follows the main window the dialog layer sets.
  ASSERT_TRUE(nv::details::initialize_mfc_lib());
  ASSERT_TRUE(nv::ui_providers().owner_window);
  nv::details::set_main_window(child);
  EXPECT_EQ(nv::ui_providers().owner_window(), (nv::owner_windows{top, nullptr}));
  nv::details::set_main_window(nullptr);
  EXPECT_EQ(nv::ui_providers().owner_window(), nv::owner_windows{});
  ::DestroyWindow(top);
}

// ---- the whole start-up in a program built like the installer -----------------------------------

std::wstring beside_this_program(const wchar_t* file) {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return (std::filesystem::path(self).parent_path() / file).wstring();
}

std::wstring unique_name(const wchar_t* what) {
  static int counter = 0;
  return L"nv_startup_tests." + std::to_wstring(::GetCurrentProcessId()) + L"." +
         std::to_wstring(++counter) + L"." + what;
}

std::map<std::string, std::string> read_report(const std::filesystem::path& file) {
  std::map<std::string, std::string> values;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    const auto equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

// One run of a probe program: started with a report file and two events in a folder of its own.
class probe_run {
 public:
  // `more` is added to the command line after the probe's own arguments.
  explicit probe_run(const wchar_t* program, const wchar_t* more = L"") {
    folder_ = std::filesystem::temp_directory_path() / unique_name(L"probe");
    std::filesystem::create_directories(folder_);
    report_ = folder_ / "report.txt";
    const std::wstring ready_name = unique_name(L"ready");
    const std::wstring quit_name = unique_name(L"quit");
    ready_.reset(::CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
    quit_.reset(::CreateEventW(nullptr, TRUE, FALSE, quit_name.c_str()));
    std::wstring command = L"\"" + beside_this_program(program) + L"\" \"" + report_.wstring() +
                           L"\" " + ready_name + L" " + quit_name + more;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
      start_error_ = ::GetLastError();
      return;
    }
    process_.reset(info.hProcess);
    nv::unique_handle thread(info.hThread);
    id_ = info.dwProcessId;
  }
  ~probe_run() {
    if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
      ::TerminateProcess(process_.get(), 99);
      ::WaitForSingleObject(process_.get(), 10000);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  DWORD start_error() const { return start_error_; }
  DWORD id() const { return id_; }
  HANDLE process() const { return process_.get(); }

  // True when the probe got through start-up and is waiting; false when it ended first.
  bool wait_ready() {
    const HANDLE waits[] = {ready_.get(), process_.get()};
    return ::WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
  }
  std::map<std::string, std::string> report() const { return read_report(report_); }
  void quit() { ::SetEvent(quit_.get()); }
  DWORD exit_code() {
    EXPECT_EQ(::WaitForSingleObject(process_.get(), 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeProcess(process_.get(), &code);
    return code;
  }

 private:
  std::filesystem::path folder_;
  std::filesystem::path report_;
  nv::unique_handle ready_;
  nv::unique_handle quit_;
  nv::unique_handle process_;
  DWORD id_ = 0;
  DWORD start_error_ = 0;
};

struct box_search {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK find_box_of(HWND window, LPARAM parameter) {
  auto* s = reinterpret_cast<box_search*>(parameter);
  DWORD owner_pid = 0;
  ::GetWindowThreadProcessId(window, &owner_pid);
  wchar_t class_name[16] = {};
  ::GetClassNameW(window, class_name, 16);
  if (owner_pid == s->pid && wcscmp(class_name, L"#32770") == 0 && ::IsWindowVisible(window)) {
    s->found = window;
    return FALSE;
  }
  return TRUE;
}

// A visible message box (#32770) of process `pid`, waited for up to 30 s.
HWND find_message_box(DWORD pid, HANDLE process) {
  for (int i = 0; i < 300; ++i) {
    box_search s{pid, nullptr};
    ::EnumWindows(&find_box_of, reinterpret_cast<LPARAM>(&s));
    if (s.found) return s.found;
    if (::WaitForSingleObject(process, 100) == WAIT_OBJECT_0) return nullptr;
  }
  return nullptr;
}

std::wstring window_text(HWND window) {
  wchar_t text[256] = {};
  ::GetWindowTextW(window, text, 256);
  return text;
}

// Observes the instance tracker of "Tessaline7" (the probes' identifier) through a registration
// of its own, so counts include this test program.
class StartupProbe : public ::testing::Test {
 protected:
  nv::instance_tracker observer_{nv::tracker_name(L"Tessaline7")};
};

TEST_F(StartupProbe, PassesTheChecksRegistersOnceAndExitsNormally) {
  ASSERT_NE(observer_.held(), 0) << "the tracker is needed to watch the probe";
  const std::uint32_t before = observer_.running();

  probe_run probe(L"nv_startup_probe.exe");
  if (probe.start_error() == kElevationRequired)
    GTEST_SKIP() << "the installer's manifest requires an elevated test run";
  ASSERT_EQ(probe.start_error(), 0u);
  ASSERT_TRUE(probe.wait_ready()) << "start-up did not complete";

  EXPECT_EQ(observer_.running(), before + 1) << "the probe registered once";
  const auto report = probe.report();
  EXPECT_EQ(report.at("running_instances"), std::to_string(before + 1));
  EXPECT_EQ(report.at("started_before_application"), "1");
  EXPECT_EQ(report.at("application_id_at_construction"), "Tessaline7");
  EXPECT_EQ(report.at("processor_supported"), "1");
  EXPECT_EQ(std::stoul(report.at("error_mode")) & 0x8001u, 0x8001u);
  EXPECT_FALSE(report.at("locale").empty());
  EXPECT_EQ(report.at("caption"), "nv_startup_probe");
  EXPECT_EQ(report.at("owner_provider"), "1");
  EXPECT_EQ(report.at("com_error"), std::to_string(static_cast<int>(E_NOINTERFACE)));
  // Before any other start-up step, a DLL beside the program is found only by its full path.
  EXPECT_EQ(report.at("planted_dll_by_name"), "0");
  EXPECT_EQ(report.at("planted_dll_by_path"), "1");

  probe.quit();
  EXPECT_EQ(probe.exit_code(), 0u);
  EXPECT_EQ(observer_.running(), before) << "the probe took its unit back at exit";
}

TEST_F(StartupProbe, OldCommonControlsShowInitializationErrorAndExitWithMinusEleven) {
  const std::uint32_t before = observer_.running();

  probe_run probe(L"nv_startup_probe_old_controls.exe");
  if (probe.start_error() == kElevationRequired)
    GTEST_SKIP() << "the installer's manifest requires an elevated test run";
  ASSERT_EQ(probe.start_error(), 0u);

  HWND box = find_message_box(probe.id(), probe.process());
  ASSERT_NE(box, nullptr) << "no message box";
  EXPECT_EQ(window_text(::GetDlgItem(box, 0xFFFF)), L"Initialization Error");
  EXPECT_NE(window_text(box), L"Initialization Error") << "the caption is the system's default";
  EXPECT_EQ(observer_.running(), before) << "no registration before the check";

  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(probe.exit_code(), static_cast<DWORD>(-11));
  EXPECT_FALSE(probe.wait_ready()) << "main never ran";
  EXPECT_EQ(observer_.running(), before);
}

TEST_F(StartupProbe, WithoutSse2TheThreeLanguageBoxComesFirstAndTheExitCodeIsOne) {
  const std::uint32_t before = observer_.running();

  probe_run probe(L"nv_startup_probe_no_sse2.exe");
  if (probe.start_error() == kElevationRequired)
    GTEST_SKIP() << "the installer's manifest requires an elevated test run";
  ASSERT_EQ(probe.start_error(), 0u);

  HWND box = find_message_box(probe.id(), probe.process());
  ASSERT_NE(box, nullptr) << "no message box";
  EXPECT_EQ(window_text(::GetDlgItem(box, 0xFFFF)), nv::processor_unsupported_text);
  EXPECT_EQ(observer_.running(), before) << "nothing after the processor check ran";

  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(probe.exit_code(), 1u);
  EXPECT_EQ(observer_.running(), before);
}

// With /S on the command line (an unattended run) neither start-up failure shows its box; the
// process ends with the same code.
TEST_F(StartupProbe, UnattendedRunFailsWithTheSameExitCodeAndNoBox) {
  const struct {
    const wchar_t* program;
    DWORD exit_code;
  } cases[] = {{L"nv_startup_probe_old_controls.exe", static_cast<DWORD>(-11)},
               {L"nv_startup_probe_no_sse2.exe", 1u}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.program);
    probe_run probe(c.program, L" /S");
    if (probe.start_error() == kElevationRequired)
      GTEST_SKIP() << "the installer's manifest requires an elevated test run";
    ASSERT_EQ(probe.start_error(), 0u);
    HWND box = find_message_box(probe.id(), probe.process());
    EXPECT_EQ(box, nullptr) << "a message box in an unattended run";
    if (box) ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(probe.exit_code(), c.exit_code);
  }
}

// The system libraries the support library loads itself (advapi32, the common controls) come from
// the system folder: a DLL of that name beside the program, where a user may have put it, is
// never taken, whatever search order the process has.
TEST(SystemLibrary, ComesFromTheSystemFolderNeverFromBesideTheProgram) {
  // Asked first: a module of the same name already loaded would be answered by its name.
  EXPECT_EQ(nv::unique_module(nv::load_system_library(L"nv_planted_probe.dll")).get(), nullptr);
  const nv::unique_module beside(::LoadLibraryExW(L"nv_planted_probe.dll", nullptr, 0));
  ASSERT_TRUE(beside) << "the planted DLL lies beside the test and a load by name finds it";

  const nv::unique_module system(nv::load_system_library(L"advapi32.dll"));
  ASSERT_TRUE(system);
  wchar_t folder[MAX_PATH] = {}, path[MAX_PATH] = {};
  ASSERT_NE(::GetSystemDirectoryW(folder, MAX_PATH), 0u);
  ASSERT_NE(::GetModuleFileNameW(system.get(), path, MAX_PATH), 0u);
  EXPECT_EQ(::CompareStringOrdinal(path, static_cast<int>(wcslen(folder)), folder, -1, TRUE),
            CSTR_EQUAL)
      << path;
}

}  // namespace
