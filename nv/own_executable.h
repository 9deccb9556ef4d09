// The path of the running program's own executable, whatever its length.
#pragma once

#include <string>

namespace nv {

// The full path GetModuleFileNameW gives for the process's executable; empty when it fails.
std::wstring own_executable_path();

}  // namespace nv
