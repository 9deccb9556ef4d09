#include "nv/product.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <mutex>
#include <optional>
#include <stdexcept>

#include <boost/format.hpp>

#include "nv/registry.h"

namespace nv {

namespace {

std::atomic<product_id> g_current_product{0};

struct product_row {
  product_id id;
  std::wstring registry_name;
};

// The maker's products by identifier. This installer only ever asks for its own row; the others
// keep the names that earlier installers of the family wrote to the registry.
const std::array<product_row, 6>& product_table() {
  static const std::array<product_row, 6> table{{
      {0x0305, L"Tessaline 5"},
      {0x0306, L"Tessaline 6"},
      {0x0307, L"Tessaline 7"},
      {0x0402, L"Nuvelle Loom 2"},
      {0x0403, L"Nuvelle Loom 3"},
      {0x0501, L"Nuvelle Atelier 1"},
  }};
  return table;
}

const wchar_t maker_key[] = L"Software\\Nuvelle";

// The uncached lookup of product_path().
std::wstring find_product_path() {
  const reg_key key = reg_open_key(HKEY_LOCAL_MACHINE, maker_key);
  if (!key) return {};
  const std::wstring value_name = product_registry_name(current_product()) + L" Path";
  std::wstring path;
  if (!reg_read_string(key.get(), value_name.c_str(), path)) return {};
  // Any kind of entry counts (file, folder, link); one whose status cannot be read does not.
  if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return {};
  return path;
}

// The product path cache. A mutex rather than std::call_once so that tests can reset it.
std::mutex g_product_path_mutex;
std::optional<std::wstring> g_product_path;

}  // namespace

product_id current_product() noexcept { return g_current_product.load(); }

void set_current_product(product_id id) noexcept { g_current_product.store(id); }

const std::wstring& product_registry_name(product_id id) {
  for (const product_row& row : product_table())
    if (row.id == id) return row.registry_name;
  throw std::logic_error("logic error");
}

std::wstring product_label(bool name_only) {
  std::wstring label(product_name);
  if (!name_only) {
    label += L' ';
    label += product_version_label;
  }
  return label;
}

std::wstring product_path() {
  std::lock_guard lock(g_product_path_mutex);
  if (!g_product_path) g_product_path = find_product_path();
  return *g_product_path;
}

std::wstring version_hex(ProductVersion v) {
  return (boost::wformat(L"%|1$016x|") % v).str();
}

namespace details {

void reset_product_path_cache_for_tests() {
  std::lock_guard lock(g_product_path_mutex);
  g_product_path.reset();
}

}  // namespace details

}  // namespace nv
