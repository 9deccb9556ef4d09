#include "machine/product_keys.h"

#include "nv/product.h"

namespace engine {

std::wstring ProductUninstallKeyPath() {
  return std::wstring(uninstallKeyParent) + L"\\" +
         nv::product_registry_name(nv::current_product());
}

std::wstring ProductPathValueName() {
  return nv::product_registry_name(nv::current_product()) + L" Path";
}

}  // namespace engine
