/* Starts one Windows program with a command line taken literally from the environment variable
   NV_BENCH_COMMAND, waits for it and ends with its exit code. scripts/bench-install.sh needs it
   because `wine PROGRAM ARGS...` quotes every argument that holds a blank, and an NSIS installer
   takes its target folder only as an unquoted `/D=...` at the end of the line. Every installer
   the benchmark times is started through this program alike, so all pay the same for it.
   Built by the benchmark script with the MinGW-w64 C compiler. */
#include <windows.h>

int main(void) {
  static WCHAR line[32768];
  DWORD length = GetEnvironmentVariableW(L"NV_BENCH_COMMAND", line, 32768);
  if (length == 0 || length >= 32768) return 9001;
  STARTUPINFOW startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  if (!CreateProcessW(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
    return 9002;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 9003;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return (int)code;
}
