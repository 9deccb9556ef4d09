// The state of one registry key saved to a file and put back from it: whether the key existed,
// and every value of it and of the keys below it, with its type and data byte for byte. A run
// saves the product's uninstall key this way before it writes it, so that a rollback, or the next
// start after an interrupted run, puts the previous key back exactly.
//
// The file, defined here for the writer and the reader: the bytes "NVRK", then little-endian
// 32-bit numbers: 1 when the key existed (0 when not, and nothing follows but the check), the
// number of keys; then each key, the key itself first and every key before the keys below it: the
// length of its path below the key in UTF-16 units (0 for the key itself), that path, the number
// of its values; then each value: the length of its name in UTF-16 units, the name, its type, the
// size of its data and the data. Last, the CRC-32 of every byte before it.
#pragma once

#include <windows.h>

#include <string>
#include <system_error>

namespace engine {

// Saves the state of `key` (null: the key does not exist) into the new file `file` (it must not
// exist) and flushes it to disk.
std::error_code SaveKeyState(HKEY key, const std::wstring& file);

// Puts the state saved in `file` back as `subkey` of `root`: whatever is there now is deleted with
// everything below it, then the saved keys are created with exactly the saved values, or none is
// when the key did not exist. A missing file fails with ERROR_FILE_NOT_FOUND, a damaged one with
// ERROR_INVALID_DATA, and nothing is changed then.
std::error_code RestoreKeyState(HKEY root, const std::wstring& subkey, const std::wstring& file);

}  // namespace engine
