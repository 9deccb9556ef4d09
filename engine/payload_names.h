// The names a payload table may give the files and folders it writes. The installer runs
// elevated and payload.exe extracts archives from anywhere, so a target path is only ever built
// from plain names: none that Windows would read as a stream, a device or a step out of the
// destination folder, and none that it would store under another name.
#pragma once

#include <filesystem>
#include <string_view>

#include "engine/payload_format.h"

namespace engine {

// True for CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-COM9 and LPT0-LPT9 (also with the
// superscript digits 1, 2 and 3) in any letter case, alone or followed by an extension, with any
// blanks before it: Windows opens the device for such a name in whatever folder it stands.
bool is_device_name(std::wstring_view name);

// True for a name that Windows stores as written: not empty, not "." or "..", without control
// characters and without any of < > : " / \ | ? *, not ending in a dot or a blank (which Windows
// drops), and not a device name.
bool is_plain_name(std::wstring_view name);

// Throws std::system_error(compress_errc::unexpected) unless the entry's file name (the last
// component of its source path) and every folder of its destination after the leading path
// token are plain names. A destination without a token is used as written and not examined.
void check_entry_names(const PayloadEntry& entry);

}  // namespace engine
