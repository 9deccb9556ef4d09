// Raw resource data of the installer: looked up in the current language's resource module when
// one is set, and in the executable otherwise (or when the language module lacks it).
#pragma once

#include <windows.h>

#include <cstddef>
#include <span>

namespace nv {

// Where the current language's resource module comes from. The language modules belong to the
// application, which installs its source once at start-up; the source may return nullptr when
// no language module is loaded. Passing nullptr removes the source.
using resource_module_source = HMODULE (*)();
void set_resource_module_source(resource_module_source source) noexcept;

// The bytes of resource `name` of `type` (both as for FindResourceW: an integer identifier or a
// string). They stay in the module's image and are not copied. Empty when the resource is not
// found, cannot be loaded or has no bytes.
std::span<const std::byte> find_resource_data(const wchar_t* type, const wchar_t* name);
std::span<const std::byte> find_resource_data(WORD type, WORD name);

}  // namespace nv
