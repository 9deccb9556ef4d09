// Where the product is registered on the machine: the parent of every program's uninstall key,
// the maker's key, and below them the product's uninstall key and its product path value. The
// registration writes these places; the journal secures and undoes them.
#pragma once

#include <string>

namespace engine {

// HKEY_LOCAL_MACHINE subkey that holds the uninstall keys of all programs.
inline constexpr wchar_t uninstallKeyParent[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// HKEY_LOCAL_MACHINE subkey of the maker, holding the product path value.
inline constexpr wchar_t makerKey[] = L"Software\\Nuvelle";

// The product's uninstall key below HKEY_LOCAL_MACHINE: uninstallKeyParent and the current
// product's registry name.
std::wstring ProductUninstallKeyPath();

// The product path value's name: the current product's registry name and " Path".
std::wstring ProductPathValueName();

}  // namespace engine
