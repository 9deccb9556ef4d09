// The state of one registry value saved to a file and put back from it: whether its key and the
// value existed, and the value's type and data. A run saves the product path value this way
// before it writes it, so that an interrupted run can have it put back.
//
// The file, defined here for the writer and the reader: the bytes "NVRV", then little-endian
// 32-bit numbers: the state (0 the key was missing, 1 the value was missing, 2 the value was
// there), the value's type and the size of its data; then the data; then the CRC-32 of every byte
// before it.
#pragma once

#include <windows.h>

#include <string>
#include <system_error>

namespace engine {

// Saves the state of value `name` of `subkey` under `root` into the new file `file` (it must not
// exist) and flushes it to disk.
std::error_code SaveValueState(HKEY root, const std::wstring& subkey, const std::wstring& name,
                               const std::wstring& file);

// Puts the state saved in `file` back: the value with its type and data, or no value; and, when
// the key was missing, no key either as long as nothing else is in it now. False, with nothing
// changed, when the file is missing or damaged.
bool RestoreValueState(HKEY root, const std::wstring& subkey, const std::wstring& name,
                       const std::wstring& file);

}  // namespace engine
