#include "machine/machine_folders.h"

#include <windows.h>
#include <shlobj.h>

#include "nv/link_check.h"

namespace engine {

std::wstring system_folder(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  // The result code is not consulted: a non-empty buffer is the success.
  ::SHGetFolderPathW(::GetActiveWindow(), csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
  buffer[MAX_PATH - 1] = L'\0';
  return buffer;
}

const std::vector<std::wstring>& machine_wide_folders() {
  static const std::vector<std::wstring> folders = [] {
    std::vector<std::wstring> found;
    for (const int csidl : {CSIDL_COMMON_APPDATA, CSIDL_COMMON_DESKTOPDIRECTORY,
                            CSIDL_COMMON_DOCUMENTS, CSIDL_COMMON_STARTMENU}) {
      wchar_t path[MAX_PATH] = {};
      if (SUCCEEDED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) &&
          path[0] != L'\0')
        found.emplace_back(path);
    }
    return found;
  }();
  return folders;
}

std::error_code link_refused() { return {ERROR_CANT_ACCESS_FILE, std::system_category()}; }

std::error_code refuse_links(const std::wstring& path) {
  for (const std::wstring& root : machine_wide_folders())
    if (!nv::first_link_below(root, path).empty()) return link_refused();
  return {};
}

}  // namespace engine
