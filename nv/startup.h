// Start-up of the support library: the checks and initialisations every process of the product
// goes through before its application object is constructed.
//
//   1. check_processor (nv/processor_check.h): no SSE2 -> three-language box, exit code 1;
//   2. initialize_process: process error mode and the user's locale as the global locale;
//   3. initialize_lib: known folders, common controls, InitCommonControlsEx, application
//      identifier, registration in the instance tracker, COM error handler;
//   4. details::initialize_mfc_lib: binds the support library to the application's dialog layer
//      (the providers of nv/ui_hooks.h).
// A failure in 2 or 3 shows "Initialization Error" and ends the process with exit code -11. With
// /S on the command line (an unattended run) neither failure shows its box; the exit codes stay.
//
// How the order is guaranteed: nv/startup_sequence.cpp holds one start-up object constructed
// with init_priority(110), that is before every global object of default priority in the whole
// program, whichever translation unit defines it and whatever the link order. That object file
// is linked into every program that uses nv::run_startup or nv::startup, so the installer's main
// translation unit does one of:
//
//   class CInstallApp : private nv::startup, ... { ... };  // base constructed first
//   CInstallApp::CInstallApp() { nv::run_startup(); ... }   // or an explicit first call
//
// Either form is also a first-use guard: if start-up has not run yet it runs there, once. Test
// programs that must change a start-up seam first (nv::details::set_startup_ops) do it from an
// object with a smaller priority (101..109).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <system_error>

namespace nv {

// Steps 1 to 4, once per process; later calls return at once.
void run_startup();

// True once run_startup has completed.
bool startup_completed() noexcept;

// Runs the start-up when constructed; a base or first member of the application object.
class startup {
 public:
  startup() { run_startup(); }
};

// Step 2, once per process: no critical-error or file-not-found boxes for the process; the
// user's default locale (or, when the run-time library does not know its name, the classic "C"
// locale) becomes the global locale. Without a narrow character-classification facet the
// process ends with "Initialization Error" and exit code -11.
void initialize_process();

// Step 3, once per process: resolves the known folders, requires common controls 6, initialises
// them, sets the application identifier, registers the process in the instance tracker and makes
// failed COM calls raise std::system_error. A failure of the first three ends the process with
// "Initialization Error" and exit code -11.
void initialize_lib();

namespace details {

// Step 4: runs steps 2 and 3 when they have not run, then binds the support library to the
// application's dialog layer once: the application name, owner window and application icon
// providers get their start-up values (a provider already set is kept). Always true.
bool initialize_mfc_lib();

// The window that the default owner-window provider makes the safe owner of message boxes; the
// dialog layer sets its main window here (null: boxes have no owner).
void set_main_window(HWND window) noexcept;
HWND main_window() noexcept;

// The version and file of the common controls module the process uses.
struct common_controls_info {
  DWORD version = 0;  // major * 65536 + minor; 0 when it cannot be read
  std::wstring path;  // the module's file; empty when unknown
};

// "Comctl32.dll" as loaded in the process (loaded here, and freed again, when it is not):
// "DllGetVersion" and the module's file name.
common_controls_info read_common_controls();

// True when `path` is a module of the side-by-side common controls 6.0 assembly
// (...\winsxs\x86_microsoft.windows.common-controls_<token>_6.0.<build>..._<hash>\...).
bool side_by_side_common_controls_6(std::wstring_view path);

// The common controls are good enough: "DllGetVersion" reports 6.0 or more, or the module is the
// side-by-side version 6 copy. Wine's comctl32 reports 5.81 even from its version 6
// side-by-side copy, so the version alone would refuse it there.
bool common_controls_sufficient(const common_controls_info& info);

// The user's default locale name (LCIDToLocaleName), narrowed to its low bytes; empty when the
// system gives none.
std::string user_locale_name();

// Makes the locale `name` global (C++ and C run-time library, per-thread locales off); when the
// run-time library does not know the name, the classic locale. True when `name` was used.
bool set_global_locale(const std::string& name);

// Steps 3.1 to 3.3 without reporting: the first failure, or no error.
std::error_code prepare_library();

// Makes the COM support's error handler raise std::system_error with the failing HRESULT.
void install_com_error_handler();

// What start-up uses from the system where tests need another answer. Empty members mean the
// real operations.
struct startup_ops {
  std::function<std::string()> user_locale_name;
  std::function<void()> resolve_known_folders;  // throws std::system_error on failure
  std::function<common_controls_info()> common_controls;
  std::function<void()> show_initialization_error;  // the "Initialization Error" box
  std::function<void(int code)> exit;               // std::exit
};

// Replaces the operations (empty members restore the system's); returns the previous ones.
startup_ops set_startup_ops(startup_ops ops);

// Shows "Initialization Error" (no owner, default caption, error icon, task-modal, foreground;
// no box in an unattended run, /S) and exits with -11 through the run-time library's normal exit.
void fail_initialization();

// The bodies of steps 2 and 3 without the once-only guard.
void setup_process();
void setup_library();

}  // namespace details
}  // namespace nv
