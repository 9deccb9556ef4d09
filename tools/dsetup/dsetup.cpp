// Stand-in for the DirectX setup library, loaded by the installer's DirectX step in tests.
//
// What it reports is chosen by environment variables of the loading process, read at each call
// (numbers in C notation, "0x40009", "903", "-1"):
//   NV_DSETUP_VERSION          version reported by DirectXSetupGetVersion (default 0x40009)
//   NV_DSETUP_REVISION         revision reported by DirectXSetupGetVersion (default 903)
//   NV_DSETUP_GETVERSION_RESULT result of DirectXSetupGetVersion (default 1)
//   NV_DSETUP_RESULT           result of DirectXSetupW (default 0)
//   NV_DSETUP_PROGRESS_CALLS   how many reason-18 callbacks DirectXSetupW makes (default 3)
//   NV_DSETUP_RECORD           file to which every call appends one UTF-8 line:
//       "GetVersion"
//       "SetCallback registered|null"
//       "Setup owner=0x<window, 8 hex digits> flags=0x<8 hex digits> folder=<folder>
//        callbacks=<reason>:<returned>,..." (one line)
#include <windows.h>

#include "nv/unique_handle.h"
#include "nv/utf8.h"

#include <cwchar>
#include <string>

namespace {

using SetupCallback = DWORD(WINAPI*)(DWORD reason, DWORD messageType, LPSTR message, LPSTR name,
                                     void* info);

std::wstring environment(const wchar_t* name) {
  wchar_t buffer[1024];
  const DWORD length = ::GetEnvironmentVariableW(name, buffer, 1024);
  if (length == 0 || length >= 1024) return {};
  return std::wstring(buffer, length);
}

DWORD environmentNumber(const wchar_t* name, DWORD fallback) {
  const std::wstring text = environment(name);
  if (text.empty()) return fallback;
  return static_cast<DWORD>(std::wcstoul(text.c_str(), nullptr, 0));
}

// Appends `line` and a line feed to the record file, when one is named.
void record(const std::wstring& line) {
  const std::wstring path = environment(L"NV_DSETUP_RECORD");
  if (path.empty()) return;
  const std::string bytes = nv::to_utf8(line) + '\n';
  const nv::unique_handle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

extern "C" {

// A non-zero result means the version and revision were stored.
int WINAPI DirectXSetupGetVersion(DWORD* version, DWORD* revision) {
  record(L"GetVersion");
  if (version) *version = environmentNumber(L"NV_DSETUP_VERSION", 0x40009);
  if (revision) *revision = environmentNumber(L"NV_DSETUP_REVISION", 903);
  return static_cast<int>(environmentNumber(L"NV_DSETUP_GETVERSION_RESULT", 1));
}

#ifndef NV_DSETUP_WITHOUT_SETUP_ENTRIES

static SetupCallback registeredCallback = nullptr;

int WINAPI DirectXSetupSetCallback(SetupCallback callback) {
  registeredCallback = callback;
  record(std::wstring(L"SetCallback ") + (callback ? L"registered" : L"null"));
  return 0;
}

// Reports one informational reason (1) and then the progress reason (18) several times to the
// registered callback, the way the real setup keeps its caller's window alive.
int WINAPI DirectXSetupW(HWND owner, LPWSTR folder, DWORD flags) {
  std::wstring callbacks;
  if (registeredCallback) {
    char message[] = "Stand-in DirectX setup";
    char name[] = "DSetup";
    const DWORD progressCalls = environmentNumber(L"NV_DSETUP_PROGRESS_CALLS", 3);
    for (DWORD i = 0; i <= progressCalls; ++i) {
      const DWORD reason = i == 0 ? 1 : 18;
      const DWORD returned = registeredCallback(reason, 0, message, name, nullptr);
      if (!callbacks.empty()) callbacks += L',';
      callbacks += std::to_wstring(reason) + L':' + std::to_wstring(returned);
    }
  }
  wchar_t numbers[64];
  std::swprintf(numbers, 64, L"owner=0x%08lX flags=0x%08lX",
                static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(owner)),
                static_cast<unsigned long>(flags));
  record(std::wstring(L"Setup ") + numbers + L" folder=" + (folder ? folder : L"<null>") +
         L" callbacks=" + callbacks);
  return static_cast<int>(environmentNumber(L"NV_DSETUP_RESULT", 0));
}

#endif

}  // extern "C"
