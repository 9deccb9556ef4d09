// Tells a test whether it runs under Wine, so that a case Wine cannot honour is skipped with its
// reason instead of weakened.
#pragma once

#include <windows.h>

namespace nv_testing {

inline bool running_under_wine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace nv_testing
