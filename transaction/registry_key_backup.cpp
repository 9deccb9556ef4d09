#include "transaction/registry_key_backup.h"

#include <shlwapi.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "transaction/state_file.h"
#include "nv/system_failure.h"
#include "nv/unique_handle.h"
#include "nv/crc32.h"

namespace engine {
namespace {

constexpr char kMagic[4] = {'N', 'V', 'R', 'K'};
constexpr std::uint32_t kKeyMissing = 0;
constexpr std::uint32_t kKeyPresent = 1;
// An uninstall key holds a few kilobytes; anything far larger was not saved by this writer.
constexpr std::size_t kMaxFile = 16u << 20;
// Longest value name the registry stores, in UTF-16 units.
constexpr DWORD kMaxValueName = 16383;
// Longest key name, in UTF-16 units.
constexpr DWORD kMaxKeyName = 255;

struct SavedValue {
  std::wstring name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct SavedKey {
  std::wstring path;  // below the saved key; empty for the key itself
  std::vector<SavedValue> values;
};

struct SavedState {
  bool existed = false;
  std::vector<SavedKey> keys;
};

std::error_code RegistryFailure(LSTATUS status) {
  return nv::system_failure(static_cast<DWORD>(status));
}

// Every value of `key`, in the order the registry gives them.
std::error_code ReadValues(HKEY key, std::vector<SavedValue>& values) {
  DWORD longestName = 0, largestData = 0;
  LSTATUS status = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, &longestName, &largestData, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return RegistryFailure(status);
  std::vector<wchar_t> name(longestName + 1);
  std::vector<BYTE> data(largestData + 1);
  for (DWORD index = 0;;) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    status = ::RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(),
                             &size);
    if (status == ERROR_NO_MORE_ITEMS) return {};
    if (status == ERROR_MORE_DATA && (name.size() <= kMaxValueName || size > data.size())) {
      // A value changed since the key was measured: the same one again with room for anything.
      name.resize(kMaxValueName + 1);
      if (size > data.size()) data.resize(size);
      continue;
    }
    if (status != ERROR_SUCCESS) return RegistryFailure(status);
    values.push_back({std::wstring(name.data(), nameLength), type,
                      std::vector<BYTE>(data.begin(), data.begin() + size)});
    ++index;
  }
}

// `key` at `path` and every key below it, each before the keys below it.
std::error_code ReadTree(HKEY key, const std::wstring& path, std::vector<SavedKey>& keys) {
  keys.push_back({path, {}});
  if (const std::error_code error = ReadValues(key, keys.back().values)) return error;
  for (DWORD index = 0;; ++index) {
    wchar_t name[kMaxKeyName + 1] = {};
    DWORD length = kMaxKeyName + 1;
    const LSTATUS status =
        ::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return {};
    if (status != ERROR_SUCCESS) return RegistryFailure(status);
    HKEY raw = nullptr;
    const LSTATUS opened = ::RegOpenKeyExW(key, name, 0, KEY_READ, &raw);
    if (opened != ERROR_SUCCESS) return RegistryFailure(opened);
    const nv::reg_key subkey(raw);
    const std::wstring below = path.empty() ? std::wstring(name, length)
                                            : path + L"\\" + std::wstring(name, length);
    if (const std::error_code error = ReadTree(subkey.get(), below, keys)) return error;
  }
}

void Put(std::vector<BYTE>& bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<BYTE>(value >> shift));
}

void PutText(std::vector<BYTE>& bytes, const std::wstring& text) {
  Put(bytes, static_cast<std::uint32_t>(text.size()));
  for (const wchar_t unit : text) {
    bytes.push_back(static_cast<BYTE>(unit & 0xFF));
    bytes.push_back(static_cast<BYTE>((unit >> 8) & 0xFF));
  }
}

std::vector<BYTE> Encode(const SavedState& state) {
  std::vector<BYTE> bytes(kMagic, kMagic + sizeof kMagic);
  Put(bytes, state.existed ? kKeyPresent : kKeyMissing);
  if (state.existed) {
    Put(bytes, static_cast<std::uint32_t>(state.keys.size()));
    for (const SavedKey& key : state.keys) {
      PutText(bytes, key.path);
      Put(bytes, static_cast<std::uint32_t>(key.values.size()));
      for (const SavedValue& value : key.values) {
        PutText(bytes, value.name);
        Put(bytes, value.type);
        Put(bytes, static_cast<std::uint32_t>(value.data.size()));
        bytes.insert(bytes.end(), value.data.begin(), value.data.end());
      }
    }
  }
  Put(bytes, nv::crc32::of(bytes.data(), bytes.size()));
  return bytes;
}

// Reads the file's body front to back; every read is checked against the end.
class Reader {
 public:
  Reader(const BYTE* bytes, std::size_t size) : at_(bytes), end_(bytes + size) {}

  bool number(std::uint32_t& value) {
    if (end_ - at_ < 4) return false;
    value = static_cast<std::uint32_t>(at_[0]) | (static_cast<std::uint32_t>(at_[1]) << 8) |
            (static_cast<std::uint32_t>(at_[2]) << 16) | (static_cast<std::uint32_t>(at_[3]) << 24);
    at_ += 4;
    return true;
  }
  bool text(std::wstring& value) {
    std::uint32_t length = 0;
    if (!number(length) || static_cast<std::size_t>(end_ - at_) / 2 < length) return false;
    value.resize(length);
    for (std::uint32_t i = 0; i < length; ++i, at_ += 2)
      value[i] = static_cast<wchar_t>(at_[0] | (at_[1] << 8));
    return true;
  }
  bool data(std::vector<BYTE>& value) {
    std::uint32_t size = 0;
    if (!number(size) || static_cast<std::size_t>(end_ - at_) < size) return false;
    value.assign(at_, at_ + size);
    at_ += size;
    return true;
  }
  bool atEnd() const { return at_ == end_; }

 private:
  const BYTE* at_;
  const BYTE* end_;
};

// The state in `bytes`; false when they are not a whole, undamaged file of this format.
bool Decode(const std::vector<BYTE>& bytes, SavedState& state) {
  if (bytes.size() < sizeof kMagic + 8 || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
    return false;
  const std::size_t body = bytes.size() - 4;
  Reader check(bytes.data() + body, 4);
  std::uint32_t crc = 0;
  if (!check.number(crc) || crc != nv::crc32::of(bytes.data(), body)) return false;
  Reader reader(bytes.data() + sizeof kMagic, body - sizeof kMagic);
  std::uint32_t existed = 0, keys = 0;
  if (!reader.number(existed) || existed > kKeyPresent) return false;
  state.existed = existed == kKeyPresent;
  if (!state.existed) return reader.atEnd();
  if (!reader.number(keys) || keys == 0) return false;
  for (std::uint32_t k = 0; k < keys; ++k) {
    SavedKey key;
    std::uint32_t values = 0;
    if (!reader.text(key.path) || !reader.number(values)) return false;
    // The key itself comes first, and only once.
    if (key.path.empty() != (k == 0)) return false;
    for (std::uint32_t v = 0; v < values; ++v) {
      SavedValue value;
      std::uint32_t type = 0;
      if (!reader.text(value.name) || !reader.number(type) || !reader.data(value.data))
        return false;
      value.type = type;
      key.values.push_back(std::move(value));
    }
    state.keys.push_back(std::move(key));
  }
  return reader.atEnd();
}

// Sets `value` in `key` exactly as saved. The registry adds a terminator of its own to a string
// whose counted data lacks one when the unit after the data is 0: the data goes from a buffer
// whose next units are not.
LSTATUS SetValue(HKEY key, const SavedValue& value) {
  std::vector<BYTE> buffer(value.data);
  buffer.insert(buffer.end(), 4, 0xFF);
  return ::RegSetValueExW(key, value.name.c_str(), 0, value.type, buffer.data(),
                          static_cast<DWORD>(value.data.size()));
}

}  // namespace

std::error_code SaveKeyState(HKEY key, const std::wstring& file) {
  SavedState state;
  state.existed = key != nullptr;
  if (key)
    if (const std::error_code error = ReadTree(key, {}, state.keys)) return error;
  const std::vector<BYTE> bytes = Encode(state);
  if (bytes.size() > kMaxFile) return nv::system_failure(ERROR_FILE_TOO_LARGE);

  return WriteStateFile(file, bytes);
}

std::error_code RestoreKeyState(HKEY root, const std::wstring& subkey, const std::wstring& file) {
  std::vector<BYTE> bytes;
  if (const std::error_code error = ReadStateFile(file, kMaxFile, bytes)) return error;
  SavedState state;
  if (!Decode(bytes, state)) return nv::system_failure(ERROR_INVALID_DATA);

  const LSTATUS deleted = ::SHDeleteKeyW(root, subkey.c_str());
  if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return RegistryFailure(deleted);
  if (!state.existed) return {};
  for (const SavedKey& saved : state.keys) {
    const std::wstring path = saved.path.empty() ? subkey : subkey + L"\\" + saved.path;
    HKEY raw = nullptr;
    const LSTATUS created = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr,
                                              REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                                              &raw, nullptr);
    if (created != ERROR_SUCCESS) return RegistryFailure(created);
    const nv::reg_key key(raw);
    for (const SavedValue& value : saved.values)
      if (const LSTATUS status = SetValue(key.get(), value); status != ERROR_SUCCESS)
        return RegistryFailure(status);
  }
  return {};
}

}  // namespace engine
