#include "nv/dll_search.h"

#include <windows.h>

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

}  // namespace nv
