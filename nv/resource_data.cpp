#include "nv/resource_data.h"

#include <atomic>

namespace nv {
namespace {

std::atomic<resource_module_source> module_source{nullptr};

HMODULE resource_module() {
  const resource_module_source source = module_source.load();
  const HMODULE language = source ? source() : nullptr;
  return language ? language : ::GetModuleHandleW(nullptr);
}

}  // namespace

void set_resource_module_source(resource_module_source source) noexcept {
  module_source.store(source);
}

std::span<const std::byte> find_resource_data(const wchar_t* type, const wchar_t* name) {
  HMODULE module = resource_module();
  HRSRC found = ::FindResourceW(module, name, type);
  const HMODULE executable = ::GetModuleHandleW(nullptr);
  if (!found && module != executable) {
    module = executable;
    found = ::FindResourceW(module, name, type);
  }
  if (!found) return {};
  const HGLOBAL loaded = ::LoadResource(module, found);
  if (!loaded) return {};
  const DWORD size = ::SizeofResource(module, found);
  const void* data = ::LockResource(loaded);
  if (!data || size == 0) return {};
  return {static_cast<const std::byte*>(data), size};
}

std::span<const std::byte> find_resource_data(WORD type, WORD name) {
  return find_resource_data(MAKEINTRESOURCEW(type), MAKEINTRESOURCEW(name));
}

}  // namespace nv
