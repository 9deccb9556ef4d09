// The machine's folders as the system names them; those every user can write to (the all-users
// application data, the public desktop and documents, the all-users Start menu), and the refusal
// of links below them: nothing the elevated installer grants, writes, adopts or backs up there
// may reach through a junction or symbolic link that a user put in its way.
#pragma once

#include <string>
#include <system_error>
#include <vector>

namespace engine {

// One SHGetFolderPathW lookup of `csidl` (current path, not created, owner the process's active
// window); empty when the system yields no folder.
std::wstring system_folder(int csidl);

// Looked up once per process; folders the system does not name are left out.
const std::vector<std::wstring>& machine_wide_folders();

// What a refused link fails with: ERROR_CANT_ACCESS_FILE, shown as "1:00000780".
std::error_code link_refused();

// link_refused() when an element of `path` below the machine-wide folder that holds it (the path
// itself included) is a link; no error for a path outside those folders.
std::error_code refuse_links(const std::wstring& path);

}  // namespace engine
