// Where the process takes DLLs from. The installer runs elevated from folders other users can
// write to (a downloads folder): once the search is restricted, a DLL that the process or a system
// library loads by name comes from the system folder, never from beside the executable.
#pragma once

#include <windows.h>

namespace nv {

// How far the search could be restricted.
enum class dll_search {
  system_folder_only,   // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) took effect
  no_current_folder,    // the system lacks it: SetDllDirectoryW(L"") took the current folder out
  unrestricted,         // neither call succeeded
};

// Restricts the DLL search of the whole process. Runs first of all start-up steps; calling it
// again is harmless.
dll_search restrict_dll_search() noexcept;

// Loads the system library `name` (a file name, such as L"advapi32.dll") from the system folder
// only: with LOAD_LIBRARY_SEARCH_SYSTEM32 where the system knows the flag, else by its full path
// in the system folder — never from beside the executable. A side-by-side assembly the process's
// manifest names (Common Controls 6) still takes the name's place. Null on failure.
HMODULE load_system_library(const wchar_t* name) noexcept;

}  // namespace nv
