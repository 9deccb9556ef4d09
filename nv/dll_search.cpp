#include "nv/dll_search.h"

#include <windows.h>

#include <string>

#include "nv/fixed_path.h"

namespace nv {

dll_search restrict_dll_search() noexcept {
  // Looked up rather than imported: Windows 7 has it only with a later update.
  using set_default_dirs = BOOL(WINAPI*)(DWORD flags);
  if (HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
    const auto set_default = reinterpret_cast<set_default_dirs>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (set_default && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32))
      return dll_search::system_folder_only;
  }
  return ::SetDllDirectoryW(L"") ? dll_search::no_current_folder : dll_search::unrestricted;
}

HMODULE load_system_library(const wchar_t* name) noexcept {
  if (HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
  // Windows 7 without its loader update refuses the flag as an invalid parameter.
  if (::GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
  wchar_t system[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  try {
    const std::wstring path = fixed_path::append(system, name);
    if (path.empty()) return nullptr;
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  } catch (...) {
    return nullptr;  // no memory for the path: nothing is loaded
  }
}

}  // namespace nv
