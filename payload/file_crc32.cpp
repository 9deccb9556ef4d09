#include "payload/file_crc32.h"

#include <windows.h>

#include <array>
#include <cerrno>
#include <system_error>

#include "payload/payload_format.h"
#include "nv/unique_handle.h"
#include "nv/crc32.h"

namespace engine {
namespace {

constexpr int max_retries = 3;
constexpr DWORD retry_wait_ms = 1000;

std::system_error last_system_error(const char* what) {
  const DWORD code = ::GetLastError();
  if (code != 0) return std::system_error(static_cast<int>(code), std::system_category(), what);
  return std::system_error(errno != 0 ? errno : EIO, std::generic_category(), what);
}

// One attempt: opened so that others may read but a writer still holding the file makes the
// open fail with a sharing violation instead of reading a file that is still changing.
std::uint32_t crc_once(const std::filesystem::path& path) {
  ::SetLastError(0);
  errno = 0;
  nv::unique_handle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) throw last_system_error("open for CRC");
  nv::crc32 crc;
  std::array<unsigned char, 4096> block;
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr))
      throw last_system_error("read for CRC");
    if (got == 0) break;
    crc.update(block.data(), got);
  }
  return crc.value();
}

}  // namespace

std::uint32_t file_crc32(const std::filesystem::path& path) {
  for (int retry = 0;; ++retry) {
    try {
      return crc_once(path);
    } catch (const std::system_error& e) {
      const bool sharing = e.code() == std::error_code(ERROR_SHARING_VIOLATION, std::system_category());
      if (!sharing || retry == max_retries) throw;
    }
    ::Sleep(retry_wait_ms);
  }
}

}  // namespace engine
