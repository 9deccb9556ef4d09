#include "nv/startup.h"

#include <windows.h>
#include <commctrl.h>
#include <comdef.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <exception>
#include <locale>
#include <utility>

#include "nv/command_line.h"
#include "nv/dll_search.h"
#include "nv/fatal_error.h"
#include "nv/instance_tracking.h"
#include "nv/known_folders.h"
#include "nv/ui_hooks.h"
#include "nv/unique_handle.h"
#include "nv/unique_module.h"
#include "nv/version_info.h"

namespace nv {
namespace {

constexpr UINT kQuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;  // 0x8001
constexpr DWORD kCommonControls6 = 0x60000;
constexpr DWORD kCommonControlClasses = 0xC0FF;  // ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_LINK_CLASS
constexpr UINT kInitializationErrorType = MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND;  // 0x12010
constexpr int kInitializationExit = -11;
constexpr int kLocaleNameLength = 85;  // LOCALE_NAME_MAX_LENGTH

details::startup_ops& ops_slot() {
  static details::startup_ops ops;
  return ops;
}

std::atomic<HWND> main_window_slot{nullptr};

// Runs `body` once per process through the system's one-time initialisation. An exception from
// `body` does not cross the system's callback: it is carried out and thrown again here, and the
// step counts as not done.
struct once_call {
  void (*body)();
  std::exception_ptr failure;
};

BOOL CALLBACK run_once_callback(PINIT_ONCE, PVOID parameter, PVOID*) {
  auto* call = static_cast<once_call*>(parameter);
  try {
    call->body();
    return TRUE;
  } catch (...) {
    call->failure = std::current_exception();
    return FALSE;
  }
}

void run_once(INIT_ONCE& once, void (*body)()) {
  once_call call{body, nullptr};
  ::InitOnceExecuteOnce(&once, &run_once_callback, &call, nullptr);
  if (call.failure) std::rethrow_exception(call.failure);
}

INIT_ONCE process_once = INIT_ONCE_STATIC_INIT;
INIT_ONCE library_once = INIT_ONCE_STATIC_INIT;
INIT_ONCE binding_once = INIT_ONCE_STATIC_INIT;

void WINAPI raise_com_error(HRESULT hr, IErrorInfo*) {
  throw std::system_error(static_cast<int>(hr), std::system_category(), "COM call failed");
}

bool iequal(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return std::towlower(x) == std::towlower(y);
         });
}

bool istarts_with(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && iequal(text.substr(0, prefix.size()), prefix);
}

}  // namespace

void initialize_process() { run_once(process_once, [] { details::setup_process(); }); }

void initialize_lib() { run_once(library_once, [] { details::setup_library(); }); }

namespace details {

startup_ops set_startup_ops(startup_ops ops) { return std::exchange(ops_slot(), std::move(ops)); }

void set_main_window(HWND window) noexcept { main_window_slot.store(window); }
HWND main_window() noexcept { return main_window_slot.load(); }

void fail_initialization() {
  const startup_ops& ops = ops_slot();
  // An unattended run (/S) learns of the failure from the exit code only.
  if (!unattended_run()) {
    if (ops.show_initialization_error)
      ops.show_initialization_error();
    else
      ::MessageBoxW(nullptr, L"Initialization Error", nullptr, kInitializationErrorType);
  }
  if (ops.exit) {
    ops.exit(kInitializationExit);
  } else {
    std::exit(kInitializationExit);
  }
}

std::string user_locale_name() {
  wchar_t wide[kLocaleNameLength] = {};
  if (::LCIDToLocaleName(LOCALE_USER_DEFAULT, wide, kLocaleNameLength, 0) == 0) return {};
  std::string narrow;
  for (const wchar_t* p = wide; *p; ++p) narrow.push_back(static_cast<char>(*p & 0xFF));
  return narrow;
}

bool set_global_locale(const std::string& name) {
  _configthreadlocale(_DISABLE_PER_THREAD_LOCALE);
  try {
    std::locale::global(std::locale(name));
    return true;
  } catch (const std::runtime_error&) {
    // The run-time library does not know the name (mingw's only knows "C").
  }
  std::locale::global(std::locale::classic());
  return false;
}

common_controls_info read_common_controls() {
  common_controls_info info;
  HMODULE module = ::GetModuleHandleW(L"Comctl32.dll");
  unique_module loaded_here;
  if (!module) {
    loaded_here.reset(load_system_library(L"Comctl32.dll"));
    module = loaded_here.get();
  }
  if (!module) return info;

  std::wstring path(MAX_PATH, L'\0');
  const DWORD length = ::GetModuleFileNameW(module, path.data(), MAX_PATH);
  path.resize(length < MAX_PATH ? length : 0);
  info.path = std::move(path);

  const auto get_version =
      reinterpret_cast<DLLGETVERSIONPROC>(::GetProcAddress(module, "DllGetVersion"));
  DLLVERSIONINFO version{};
  version.cbSize = sizeof version;  // the 20-byte record
  if (get_version && SUCCEEDED(get_version(&version))) {
    info.version = version.dwMajorVersion * 65536 + version.dwMinorVersion;
  }
  return info;
}

bool side_by_side_common_controls_6(std::wstring_view path) {
  // The folder that holds the module, and the one above it.
  const auto file = path.find_last_of(L"\\/");
  if (file == std::wstring_view::npos) return false;
  const std::wstring_view folder_path = path.substr(0, file);
  const auto folder_start = folder_path.find_last_of(L"\\/");
  if (folder_start == std::wstring_view::npos) return false;
  const std::wstring_view folder = folder_path.substr(folder_start + 1);
  const std::wstring_view parent_path = folder_path.substr(0, folder_start);
  const auto parent_start = parent_path.find_last_of(L"\\/");
  const std::wstring_view parent =
      parent_start == std::wstring_view::npos ? parent_path : parent_path.substr(parent_start + 1);
  if (!iequal(parent, L"winsxs")) return false;

  // <architecture>_microsoft.windows.common-controls_<public key token>_<version>_<language>_<hash>,
  // the architecture being the process's own: x86, or amd64 for a 64-bit build.
#ifdef _WIN64
  constexpr std::wstring_view architecture = L"amd64_";
#else
  constexpr std::wstring_view architecture = L"x86_";
#endif
  constexpr std::wstring_view assembly = L"microsoft.windows.common-controls_";
  if (!istarts_with(folder, architecture)) return false;
  const std::wstring_view named = folder.substr(architecture.size());
  if (!istarts_with(named, assembly)) return false;
  const std::wstring_view rest = named.substr(assembly.size());
  const auto token_end = rest.find(L'_');
  if (token_end == std::wstring_view::npos) return false;
  return istarts_with(rest.substr(token_end + 1), L"6.0.");
}

bool common_controls_sufficient(const common_controls_info& info) {
  return info.version >= kCommonControls6 || side_by_side_common_controls_6(info.path);
}

std::error_code prepare_library() {
  const startup_ops& ops = ops_slot();
  try {
    if (ops.resolve_known_folders) {
      ops.resolve_known_folders();
    } else {
      resolve_known_folders();
    }
  } catch (const std::system_error& e) {
    return e.code();
  }
  const common_controls_info controls =
      ops.common_controls ? ops.common_controls() : read_common_controls();
  if (!common_controls_sufficient(controls)) {
    return {ERROR_OLD_WIN_VERSION, std::system_category()};
  }
  const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), kCommonControlClasses};
  ::InitCommonControlsEx(&classes);  // its result tells nothing more than the version did
  return {};
}

void install_com_error_handler() { _set_com_error_handler(&raise_com_error); }

void setup_process() {
  ::SetErrorMode(::GetErrorMode() | kQuietErrorMode);
  const startup_ops& ops = ops_slot();
  set_global_locale(ops.user_locale_name ? ops.user_locale_name() : user_locale_name());
  if (!std::has_facet<std::ctype<char>>(std::locale())) fail_initialization();
}

void setup_library() {
  if (prepare_library()) {
    fail_initialization();
    return;  // only a test's exit operation returns
  }
  initialize_application_id();
  register_instance();
  install_com_error_handler();
}

bool initialize_mfc_lib() {
  initialize_process();
  initialize_lib();
  run_once(binding_once, [] {
    ui_hooks& hooks = ui_providers();
    // Until the application sets its title, the application name is the executable's stem.
    if (!hooks.application_name) hooks.application_name = [] { return executable_stem(); };
    if (!hooks.owner_window) hooks.owner_window = [] { return safe_owner(main_window()); };
    // The application object replaces this with the icon it loads itself.
    if (!hooks.application_icon) hooks.application_icon = [] { return executable_icon(); };
    // modal_state and default_language_rtl stay with the dialog layer and the language module:
    // the support library has no modeless windows to tell and knows no language table.
  });
  return true;
}

}  // namespace details
}  // namespace nv
