#include "transaction/state_file.h"

#include "machine/write_trust.h"
#include "nv/link_check.h"
#include "nv/system_failure.h"
#include "nv/unique_handle.h"

namespace engine {

void PutUint32(std::vector<BYTE>& bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<BYTE>(value >> shift));
}

std::uint32_t GetUint32(const BYTE* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

std::error_code WriteStateFile(const std::wstring& file, const std::vector<BYTE>& bytes) {
  const nv::unique_handle handle(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return nv::last_system_failure();
  DWORD written = 0;
  if (!::WriteFile(handle.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr) ||
      written != bytes.size() || !::FlushFileBuffers(handle.get()))
    return nv::last_system_failure();
  return {};
}

std::error_code ReadStateFile(const std::wstring& file, std::size_t maxBytes,
                              std::vector<BYTE>& bytes) {
  const nv::unique_handle handle(::CreateFileW(file.c_str(), GENERIC_READ | READ_CONTROL,
                                               FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) return nv::last_system_failure();
  if (!nv::is_plain_file(nv::facts_of(handle.get())) ||
      !OnlyTrustedMayChange(handle.get(), WriteScope::Everything))
    return nv::system_failure(ERROR_INVALID_DATA);
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(handle.get(), &size)) return nv::last_system_failure();
  if (size.QuadPart > static_cast<LONGLONG>(maxBytes)) return nv::system_failure(ERROR_INVALID_DATA);
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  if (!bytes.empty() && (!::ReadFile(handle.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                     &read, nullptr) ||
                         read != bytes.size()))
    return nv::last_system_failure();
  return {};
}

}  // namespace engine
