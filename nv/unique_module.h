// Ownership of a module loaded with LoadLibraryExW: freed exactly once when its owner goes.
#pragma once

#include <windows.h>

#include "nv/unique_handle.h"

namespace nv {

struct module_traits {
  using type = HMODULE;
  static HMODULE normalize(HMODULE module) noexcept { return module; }
  static void close(HMODULE module) noexcept { ::FreeLibrary(module); }
};

// A loaded library; null when nothing is loaded.
using unique_module = unique_resource<module_traits>;

}  // namespace nv
