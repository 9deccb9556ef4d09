// CRC-32 of a file as it stands on disk, used to prove every file the extractor wrote. A file
// that another process holds open (sharing violation) is retried for up to three seconds.
#pragma once

#include <cstdint>
#include <filesystem>

namespace engine {

// Throws std::system_error with the system code of the failing open or read (error 32 after
// three retries one second apart, four attempts in all).
std::uint32_t file_crc32(const std::filesystem::path& path);

}  // namespace engine
