#include "nv/registry.h"

#include <system_error>
#include <vector>

namespace nv {

reg_key reg_open_key(HKEY parent, const wchar_t* subkey) {
  HKEY key = nullptr;
  const LSTATUS status = ::RegOpenKeyExW(parent, subkey, 0, MAXIMUM_ALLOWED, &key);
  if (status == ERROR_FILE_NOT_FOUND) return reg_key();
  if (status != ERROR_SUCCESS)
    throw std::system_error(static_cast<int>(status), std::system_category(), "RegOpenKeyExW");
  return reg_key(key);
}

bool reg_read_string(HKEY key, const wchar_t* name, std::wstring& out) {
  DWORD type = 0;
  DWORD size = 0;
  LSTATUS status = ::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND) return false;
  if (status != ERROR_SUCCESS)
    throw std::system_error(static_cast<int>(status), std::system_category(),
                            "RegQueryValueExW");
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || size % sizeof(wchar_t) != 0) return false;
  if (size == 0) {
    out.clear();
    return true;
  }

  std::vector<wchar_t> buffer(size / sizeof(wchar_t), L'\0');
  status = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                              &size);
  if (status != ERROR_SUCCESS)
    throw std::system_error(static_cast<int>(status), std::system_category(),
                            "RegQueryValueExW");
  // A string stored without its terminator counts as absent.
  if (buffer.back() != L'\0') return false;
  out.assign(buffer.data(), buffer.size() - 1);
  return true;
}

bool reg_key_is_empty(HKEY key) {
  DWORD subkeys = 0;
  DWORD values = 0;
  return ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                            nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
         subkeys == 0 && values == 0;
}

}  // namespace nv
