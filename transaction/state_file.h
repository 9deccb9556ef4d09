// Small files of saved state that a run keeps beside its journal (the product path value's and
// the uninstall key's previous state): written as new files and flushed to disk before the change
// they guard; read back whole, with a size cap, through a handle that does not follow a link, and
// only when nobody but the trusted may have changed the file (write_trust.h), for an elevated
// start puts into the registry what they say.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace engine {

// A 32-bit number appended to a state file's bytes, and read back, little-endian.
void PutUint32(std::vector<BYTE>& bytes, std::uint32_t value);
std::uint32_t GetUint32(const BYTE* bytes);

// Creates `file` (it must not exist), writes `bytes` and flushes them to disk.
std::error_code WriteStateFile(const std::wstring& file, const std::vector<BYTE>& bytes);

// Reads all of `file` into `bytes`. ERROR_INVALID_DATA for a file larger than `maxBytes`, for a
// link or a file with a second name, and for one that others may change; the system's error when
// it cannot be opened or read (ERROR_FILE_NOT_FOUND when it is not there).
std::error_code ReadStateFile(const std::wstring& file, std::size_t maxBytes,
                              std::vector<BYTE>& bytes);

}  // namespace engine
