#include "transaction/registry_value_backup.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "transaction/state_file.h"
#include "nv/registry.h"
#include "nv/system_failure.h"
#include "nv/unique_handle.h"
#include "nv/crc32.h"

namespace engine {
namespace {

constexpr char kMagic[4] = {'N', 'V', 'R', 'V'};
constexpr std::uint32_t kKeyMissing = 0;
constexpr std::uint32_t kValueMissing = 1;
constexpr std::uint32_t kValuePresent = 2;
// The product path value is a path; anything far larger was not saved by this writer.
constexpr std::uint32_t kMaxData = 1 << 20;

}  // namespace

std::error_code SaveValueState(HKEY root, const std::wstring& subkey, const std::wstring& name,
                               const std::wstring& file) {
  std::vector<BYTE> bytes(kMagic, kMagic + sizeof kMagic);
  HKEY raw = nullptr;
  const LSTATUS opened = ::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE, &raw);
  const nv::reg_key key(raw);
  if (opened == ERROR_FILE_NOT_FOUND) {
    PutUint32(bytes, kKeyMissing);
    PutUint32(bytes, REG_NONE);
    PutUint32(bytes, 0);
  } else if (opened != ERROR_SUCCESS) {
    return nv::system_failure(static_cast<DWORD>(opened));
  } else {
    DWORD type = REG_NONE, size = 0;
    LSTATUS status = ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size);
    if (status == ERROR_SUCCESS && size > 0)
      status = ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, data.data(), &size);
    if (status == ERROR_FILE_NOT_FOUND) {
      PutUint32(bytes, kValueMissing);
      PutUint32(bytes, REG_NONE);
      PutUint32(bytes, 0);
    } else if (status != ERROR_SUCCESS || size > kMaxData) {
      return nv::system_failure(status != ERROR_SUCCESS ? static_cast<DWORD>(status)
                                                        : ERROR_FILE_TOO_LARGE);
    } else {
      PutUint32(bytes, kValuePresent);
      PutUint32(bytes, type);
      PutUint32(bytes, size);
      bytes.insert(bytes.end(), data.begin(), data.begin() + size);
    }
  }
  PutUint32(bytes, nv::crc32::of(bytes.data(), bytes.size()));

  return WriteStateFile(file, bytes);
}

bool RestoreValueState(HKEY root, const std::wstring& subkey, const std::wstring& name,
                       const std::wstring& file) {
  std::vector<BYTE> bytes;
  if (ReadStateFile(file, kMaxData + 64, bytes) || bytes.size() < 20 ||
      std::memcmp(bytes.data(), kMagic, 4) != 0)
    return false;
  const std::size_t body = bytes.size() - 4;
  if (nv::crc32::of(bytes.data(), body) != GetUint32(bytes.data() + body)) return false;
  const std::uint32_t state = GetUint32(bytes.data() + 4);
  const std::uint32_t type = GetUint32(bytes.data() + 8);
  const std::uint32_t size = GetUint32(bytes.data() + 12);
  if (state > kValuePresent || size != body - 16) return false;

  if (state == kValuePresent) {
    HKEY raw = nullptr;
    if (::RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw,
                          nullptr) != ERROR_SUCCESS)
      return false;
    const nv::reg_key key(raw);
    return ::RegSetValueExW(key.get(), name.c_str(), 0, type, bytes.data() + 16, size) ==
           ERROR_SUCCESS;
  }
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_SET_VALUE | KEY_QUERY_VALUE, &raw) !=
      ERROR_SUCCESS)
    return true;  // no key: no value either
  nv::reg_key key(raw);
  ::RegDeleteValueW(key.get(), name.c_str());
  if (state == kKeyMissing && nv::reg_key_is_empty(key.get())) {
    key.reset();
    ::RegDeleteKeyW(root, subkey.c_str());
  }
  return true;
}

}  // namespace engine
