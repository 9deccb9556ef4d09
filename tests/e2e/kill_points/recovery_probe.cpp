// The recovery test's helper inside the Wine prefix, with two verbs:
//   recovery_probe run-until EVENT TIMEOUT_MS PROGRAM [ARGUMENT ...]
//     starts PROGRAM and, as soon as it sets the named event EVENT (the installer build of the
//     test sets it at the point it was told to stop at), ends it from outside with
//     TerminateProcess, as a deployment system's time-out or the task manager would. Prints
//     "killed", "exit CODE" when the program ended by itself, or "timeout" (it is then ended).
//   recovery_probe registry KEY FILE
//     saves HKEY_LOCAL_MACHINE\KEY with everything below it to FILE (RegSaveKeyW, in the text
//     form Wine writes): the registry part of the machine's state that the test compares.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "nv/unique_handle.h"

namespace {

int runUntil(int argc, wchar_t** argv) {
  const std::wstring event = std::wstring(L"Local\\") + argv[2];
  const DWORD timeout = static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10));
  std::wstring commandLine;
  for (int i = 4; i < argc; ++i) {
    if (i > 4) commandLine += L' ';
    const std::wstring argument = argv[i];
    commandLine += argument.find(L' ') == std::wstring::npos ? argument : L'"' + argument + L'"';
  }
  const nv::unique_handle reached(::CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
  ::SetEnvironmentVariableW(L"NV_KILL_EVENT", event.c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // Wine now and then loses a new process before it has run any of its own code and reports
  // ERROR_INTERNAL_ERROR; nothing of the program ran, so it is started again.
  bool started = false;
  for (int attempt = 0; reached && !started && attempt < 3; ++attempt) {
    started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process);
    if (!started && ::GetLastError() != ERROR_INTERNAL_ERROR) break;
  }
  if (!started) {
    std::printf("cannot start: %lu\n", ::GetLastError());
    return 1;
  }
  const nv::unique_handle child(process.hProcess);
  const nv::unique_handle thread(process.hThread);
  const HANDLE waits[] = {reached.get(), child.get()};
  const DWORD which = ::WaitForMultipleObjects(2, waits, FALSE, timeout);
  if (which == WAIT_OBJECT_0 + 1) {
    DWORD code = 0;
    ::GetExitCodeProcess(child.get(), &code);
    std::printf("exit %lu\n", code);
    return 0;
  }
  ::TerminateProcess(child.get(), 0xDEAD);
  ::WaitForSingleObject(child.get(), INFINITE);
  std::puts(which == WAIT_OBJECT_0 ? "killed" : "timeout");
  return 0;
}

// Saves HKEY_LOCAL_MACHINE\`name` with everything below it to `file` (replaced) with
// RegSaveKeyW, under the backup privilege; the error code.
LSTATUS saveKey(const wchar_t* name, const wchar_t* file) {
  HANDLE raw = nullptr;
  if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) {
    const nv::unique_handle token(raw);
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (::LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &privileges.Privileges[0].Luid))
      ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
  }
  HKEY key = nullptr;
  LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, name, 0, KEY_READ, &key);
  if (status != ERROR_SUCCESS) return status;
  const nv::reg_key owned(key);
  ::DeleteFileW(file);
  return ::RegSaveKeyW(key, file, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 5 && std::wcscmp(argv[1], L"run-until") == 0) return runUntil(argc, argv);
  if (argc == 4 && std::wcscmp(argv[1], L"registry") == 0) {
    const LSTATUS status = saveKey(argv[2], argv[3]);
    std::printf("%ld\n", static_cast<long>(status));
    return status == ERROR_SUCCESS ? 0 : 1;
  }
  std::fputs("usage: recovery_probe run-until EVENT TIMEOUT_MS PROGRAM [ARGUMENT ...]\n"
             "       recovery_probe registry KEY FILE\n",
             stderr);
  return 2;
}
