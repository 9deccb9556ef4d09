// Folders that only Administrators and SYSTEM may change: the installation run's working folder
// and the folder of the run journals. Such a folder is created with a protected access list, or an
// existing one is given that list again through a handle that does not follow a link; a file found
// in one is trusted only when an administrator owns it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <system_error>

namespace engine {

// The access list of such a folder, as a descriptor string: protected, full access for
// Administrators and SYSTEM, inherited by everything below.
inline constexpr wchar_t kAdminFolderSecurity[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

// Creates the folder `path` with that access list. A folder that already exists is refused
// (ERROR_ALREADY_EXISTS), whoever made it.
std::error_code CreateAdminFolder(const std::wstring& path);

// Gives the existing folder `path` Administrators as owner and that access list again, through a handle opened
// without following a link; a link or a file there is refused (ERROR_CANT_ACCESS_FILE, as
// link_refused()). Whatever a user put into the folder before keeps its own owner.
std::error_code ProtectAdminFolder(const std::wstring& path);

// True when the file or folder open as `object` is owned by Administrators, by SYSTEM, or by the
// account this process runs as (the owner the system gives what an elevated run creates).
bool OwnedByAdministrator(HANDLE object);

// Replaces the ownership question (empty: the system's answer); returns the previous one. Tests
// use it for files of another owner, which the test system cannot make.
using OwnershipQuery = std::function<bool(HANDLE object)>;
OwnershipQuery SetOwnershipQuery(OwnershipQuery query);

}  // namespace engine
