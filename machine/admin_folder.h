// Folders that only Administrators and SYSTEM may change: the installation run's working folder,
// the folder of the run journals and the uninstaller's finisher folder. Such a folder is created
// with a protected access list; whether an existing one may be trusted is write_trust.h's to say.
#pragma once

#include <string>
#include <system_error>

namespace engine {

// The access list of such a folder, as a descriptor string: protected, full access for
// Administrators and SYSTEM, inherited by everything below.
inline constexpr wchar_t kAdminFolderSecurity[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

// Creates the folder `path` with that access list. A folder that already exists is refused
// (ERROR_ALREADY_EXISTS), whoever made it.
std::error_code CreateAdminFolder(const std::wstring& path);

}  // namespace engine
