// Test helper: opens a file for reading while refusing other readers (other writers are
// allowed, so the extractor's own open output handle is compatible), signals the named event
// given as second argument, and holds the file until killed or for at most 30 seconds. A second
// argument "file:PATH" names a file to create instead of an event, for callers that cannot make
// events (the end-to-end scripts).
#include <windows.h>

#include <shellapi.h>

#include <cwchar>

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv || argc < 3) return 2;
  HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  if (::wcsncmp(argv[2], L"file:", 5) == 0) {
    HANDLE marker = ::CreateFileW(argv[2] + 5, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (marker == INVALID_HANDLE_VALUE) return 4;
    ::CloseHandle(marker);
  } else {
    HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (!ready) return 4;
    ::SetEvent(ready);
    ::CloseHandle(ready);
  }
  ::Sleep(30000);
  ::CloseHandle(file);
  return 0;
}
