// Win32 failures as std::error_code in the system category, for the units that return their
// errors rather than throw them: a call that failed without setting a code still reports a
// failure, never success.
#pragma once

#include <windows.h>

#include <system_error>

namespace nv {

// `code` as an error; ERROR_SUCCESS becomes ERROR_GEN_FAILURE.
inline std::error_code system_failure(DWORD code) noexcept {
  return {static_cast<int>(code != ERROR_SUCCESS ? code : ERROR_GEN_FAILURE),
          std::system_category()};
}

// The calling thread's last error, as system_failure gives it.
inline std::error_code last_system_failure() noexcept { return system_failure(::GetLastError()); }

}  // namespace nv
