// Stand-in for the installed product's main executable. It lives only so that tests can watch
// what the installer does with the product:
//   - while it runs it is registered in the instance tracker of the application identifier
//     "Tessaline7", as the real product is, so the installer sees "the product is running";
//   - started with "/Register" it appends a record of how it was started to the file named by
//     NV_STANDIN_RECORD and exits with -10 (the product's "registered" answer), or with the value
//     of NV_STANDIN_EXIT when that is set;
//   - started with "/Unregister" (by the uninstaller) it appends the same record and exits with
//     0, or with the value of NV_STANDIN_UNREGISTER_EXIT when that is set;
//   - started otherwise it shows a small window until it is closed, or until
//     NV_STANDIN_LIFETIME_MS milliseconds have passed.
// The record holds three lines, each "key: value", written in UTF-8:
//   command line: <the full command line as received>
//   current folder: <the current folder at start>
//   installer mutex: free | held
// "free" means the stand-in could take the installer's single-instance mutex (and gave it back at
// once); NV_STANDIN_MUTEX names another mutex for tests that must not share the real one.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <optional>
#include <string>

#include "nv/instance_tracking.h"
#include "nv/unique_handle.h"
#include "nv/utf8.h"

namespace {

constexpr wchar_t kApplicationId[] = L"Tessaline7";
constexpr int kRegistered = -10;

std::optional<std::wstring> environment(const wchar_t* name) {
  const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(name, value.data(), size);
  if (length == 0 || length >= size) return std::nullopt;
  value.resize(length);
  return value;
}

std::optional<long> environment_number(const wchar_t* name) {
  const auto text = environment(name);
  if (!text || text->empty()) return std::nullopt;
  wchar_t* end = nullptr;
  const long value = std::wcstol(text->c_str(), &end, 0);
  if (*end != L'\0') return std::nullopt;
  return value;
}

struct local_free {
  void operator()(void* memory) const noexcept { ::LocalFree(memory); }
};

// True when one of the arguments after the program's own name is `option`, in any case.
bool has_option(const wchar_t* option) {
  int count = 0;
  std::unique_ptr<LPWSTR, local_free> arguments(::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!arguments) return false;
  for (int i = 1; i < count; ++i)
    if (::lstrcmpiW(arguments.get()[i], option) == 0) return true;
  return false;
}

// Whether the installer's mutex could be taken right now; it is given back at once.
bool installer_mutex_free() {
  const std::wstring name =
      environment(L"NV_STANDIN_MUTEX").value_or(nv::mutex_name(kApplicationId));
  nv::named_mutex mutex(name, false, true);
  return mutex.try_lock();  // the destructor releases it
}

// Appends the record of this start to the NV_STANDIN_RECORD file, if one is named.
void append_record() {
  const auto path = environment(L"NV_STANDIN_RECORD");
  if (!path) return;
  std::wstring folder(MAX_PATH, L'\0');
  DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
  if (length >= folder.size()) {
    folder.resize(length);
    length = ::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
  }
  folder.resize(length);
  const std::string record = "command line: " + nv::to_utf8(::GetCommandLineW()) +
                             "\r\ncurrent folder: " + nv::to_utf8(folder) + "\r\ninstaller mutex: " +
                             (installer_mutex_free() ? "free" : "held") + "\r\n";
  nv::unique_handle file(::CreateFileW(path->c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  ::WriteFile(file.get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_TIMER:
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, w, l);
  }
}

// Shows the product's window until it is closed or the lifetime has passed; the exit code.
int run_window(HINSTANCE instance) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = instance;
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = L"NvTessalineStandIn";
  if (!::RegisterClassW(&window_class)) return 1;
  HWND window = ::CreateWindowExW(0, window_class.lpszClassName, L"Tessaline",
                                  WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 320, 200,
                                  nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  if (const auto lifetime = environment_number(L"NV_STANDIN_LIFETIME_MS"); lifetime && *lifetime >= 0)
    ::SetTimer(window, 1, static_cast<UINT>(*lifetime), nullptr);
  ::ShowWindow(window, SW_SHOWNOACTIVATE);
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  // Registered for as long as the program runs, as the product registers at start-up.
  nv::instance_tracker tracker(nv::tracker_name(kApplicationId));
  if (has_option(L"/Register")) {
    append_record();
    return static_cast<int>(environment_number(L"NV_STANDIN_EXIT").value_or(kRegistered));
  }
  if (has_option(L"/Unregister")) {
    append_record();
    return static_cast<int>(environment_number(L"NV_STANDIN_UNREGISTER_EXIT").value_or(0));
  }
  return run_window(instance);
}
