#include "transaction/pending_deletions.h"

#include <cstdint>
#include <cstring>

#include "transaction/state_file.h"
#include "nv/link_check.h"
#include "nv/system_failure.h"
#include "nv/unique_handle.h"
#include "nv/crc32.h"

namespace engine {
namespace {

constexpr char kMagic[4] = {'N', 'V', 'P', 'D'};
// The value lists every operation of the machine; a far larger one was not written by the system.
constexpr std::size_t kMaxBytes = 4 << 20;

// The path an operation's source names: without the "\??\" of the object manager.
std::wstring_view PathOf(std::wstring_view source) {
  constexpr std::wstring_view prefix = L"\\??\\";
  if (source.size() >= prefix.size() && source.compare(0, prefix.size(), prefix) == 0)
    source.remove_prefix(prefix.size());
  return source;
}

bool SameText(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The value's data; empty when there is no value. The key is the system's own.
std::error_code ReadValue(std::wstring& data) {
  data.clear();
  HKEY raw = nullptr;
  LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE, &raw);
  if (status == ERROR_FILE_NOT_FOUND) return {};
  if (status != ERROR_SUCCESS) return nv::system_failure(static_cast<DWORD>(status));
  const nv::reg_key key(raw);
  for (;;) {
    DWORD type = REG_NONE, size = 0;
    status = ::RegQueryValueExW(key.get(), kPendingOperationsValue, nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) return {};
    if (status != ERROR_SUCCESS) return nv::system_failure(static_cast<DWORD>(status));
    if (type != REG_MULTI_SZ || size > kMaxBytes) return nv::system_failure(ERROR_INVALID_DATA);
    data.assign(size / sizeof(wchar_t), L'\0');
    status = ::RegQueryValueExW(key.get(), kPendingOperationsValue, nullptr, &type,
                                reinterpret_cast<BYTE*>(data.data()), &size);
    if (status == ERROR_MORE_DATA) continue;  // it grew meanwhile
    if (status != ERROR_SUCCESS) return nv::system_failure(static_cast<DWORD>(status));
    data.resize(size / sizeof(wchar_t));
    return {};
  }
}

// Writes the operations as the value, or removes the value when there are none.
std::error_code WriteValue(const std::vector<PendingOperation>& operations) {
  HKEY raw = nullptr;
  const LSTATUS opened =
      ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_SET_VALUE, &raw);
  if (opened != ERROR_SUCCESS) return nv::system_failure(static_cast<DWORD>(opened));
  const nv::reg_key key(raw);
  LSTATUS status = ERROR_SUCCESS;
  if (operations.empty()) {
    status = ::RegDeleteValueW(key.get(), kPendingOperationsValue);
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
  } else {
    const std::wstring data = FormatPendingOperations(operations);
    status = ::RegSetValueExW(key.get(), kPendingOperationsValue, 0, REG_MULTI_SZ,
                              reinterpret_cast<const BYTE*>(data.data()),
                              static_cast<DWORD>(data.size() * sizeof(wchar_t)));
  }
  return status == ERROR_SUCCESS ? std::error_code() : nv::system_failure(static_cast<DWORD>(status));
}

}  // namespace

std::vector<PendingOperation> ParsePendingOperations(std::wstring_view data) {
  std::vector<std::wstring> strings;
  while (!data.empty()) {
    const std::size_t end = data.find(L'\0');
    const std::wstring_view text = data.substr(0, end);
    // An empty string is a deletion's target; two NULs in a row after a pair end the list.
    strings.emplace_back(text);
    if (end == std::wstring_view::npos) break;
    data.remove_prefix(end + 1);
    if (strings.size() % 2 == 0 && (data.empty() || data.front() == L'\0')) break;
  }
  std::vector<PendingOperation> operations;
  for (std::size_t i = 0; i < strings.size(); i += 2)
    operations.push_back({strings[i], i + 1 < strings.size() ? strings[i + 1] : std::wstring()});
  return operations;
}

std::wstring FormatPendingOperations(const std::vector<PendingOperation>& operations) {
  std::wstring data;
  for (const PendingOperation& operation : operations) {
    data += operation.source;
    data += L'\0';
    data += operation.target;
    data += L'\0';
  }
  data += L'\0';
  return data;
}

bool DeletesWithin(const PendingOperation& operation, const std::vector<std::wstring>& places) {
  if (!operation.target.empty()) return false;
  const std::wstring path(PathOf(operation.source));
  if (path.empty()) return false;
  for (const std::wstring& place : places) {
    if (place.empty()) continue;
    if (SameText(path, place) || nv::is_below(place, path)) return true;
  }
  return false;
}

std::error_code FindPendingDeletions(const std::vector<std::wstring>& places,
                                     std::vector<PendingOperation>& found) {
  found.clear();
  std::wstring data;
  if (const std::error_code error = ReadValue(data)) return error;
  for (PendingOperation& operation : ParsePendingOperations(data))
    if (DeletesWithin(operation, places)) found.push_back(std::move(operation));
  return {};
}

std::error_code DropPendingDeletions(const std::vector<std::wstring>& places,
                                     std::vector<PendingOperation>& dropped) {
  dropped.clear();
  std::wstring data;
  if (const std::error_code error = ReadValue(data)) return error;
  std::vector<PendingOperation> kept;
  for (PendingOperation& operation : ParsePendingOperations(data))
    (DeletesWithin(operation, places) ? dropped : kept).push_back(std::move(operation));
  if (dropped.empty()) return {};
  if (const std::error_code error = WriteValue(kept)) {
    dropped.clear();
    return error;
  }
  return {};
}

std::error_code RestorePendingOperations(const std::vector<PendingOperation>& operations) {
  if (operations.empty()) return {};
  std::wstring data;
  if (const std::error_code error = ReadValue(data)) return error;
  std::vector<PendingOperation> all = ParsePendingOperations(data);
  for (const PendingOperation& operation : operations) {
    bool present = false;
    for (const PendingOperation& existing : all)
      present = present || (SameText(existing.source, operation.source) &&
                            SameText(existing.target, operation.target));
    if (!present) all.push_back(operation);
  }
  return WriteValue(all);
}

std::error_code SavePendingOperations(const std::vector<PendingOperation>& operations,
                                      const std::wstring& file) {
  const std::wstring data = FormatPendingOperations(operations);
  std::vector<BYTE> bytes(kMagic, kMagic + sizeof kMagic);
  PutUint32(bytes, static_cast<std::uint32_t>(data.size()));
  for (const wchar_t unit : data) {
    bytes.push_back(static_cast<BYTE>(unit & 0xFF));
    bytes.push_back(static_cast<BYTE>(unit >> 8));
  }
  PutUint32(bytes, nv::crc32::of(bytes.data(), bytes.size()));
  return WriteStateFile(file, bytes);
}

std::optional<std::vector<PendingOperation>> LoadPendingOperations(const std::wstring& file) {
  std::vector<BYTE> bytes;
  if (ReadStateFile(file, kMaxBytes + 64, bytes) || bytes.size() < 12 ||
      std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
    return std::nullopt;
  const std::size_t body = bytes.size() - 4;
  if (nv::crc32::of(bytes.data(), body) != GetUint32(bytes.data() + body)) return std::nullopt;
  const std::uint32_t units = GetUint32(bytes.data() + 4);
  if (static_cast<std::size_t>(units) * 2 != body - 8) return std::nullopt;
  std::wstring data(units, L'\0');
  for (std::size_t i = 0; i < units; ++i)
    data[i] = static_cast<wchar_t>(bytes[8 + 2 * i] | (bytes[9 + 2 * i] << 8));
  return ParsePendingOperations(data);
}

}  // namespace engine
