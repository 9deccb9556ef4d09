// Registry access of the support library: an owning key handle, the two read operations that
// the product path lookup and the previous-installation probe use, and the emptiness test that
// decides whether a key that was ours may go.
#pragma once

#include <windows.h>

#include <string>

#include "nv/unique_handle.h"

namespace nv {

// Opens `subkey` of `parent` with MAXIMUM_ALLOWED access (options 0, no registry-view flag).
// A missing key gives an empty reg_key; any other failure raises std::system_error with the
// Windows error code.
reg_key reg_open_key(HKEY parent, const wchar_t* subkey);

// Reads the string value `name` of `key` into `out`.
// false: the value is missing, is not REG_SZ / REG_EXPAND_SZ, has an odd byte size or lacks its
// terminating 0 (`out` is left unchanged). true: `out` holds the text without the terminator;
// REG_EXPAND_SZ text is returned as stored, not expanded; a value of size 0 gives an empty text.
// Any other failure raises std::system_error with the Windows error code.
bool reg_read_string(HKEY key, const wchar_t* name, std::wstring& out);

// True when `key` holds neither values nor subkeys; false also when it cannot be queried.
bool reg_key_is_empty(HKEY key);

}  // namespace nv
