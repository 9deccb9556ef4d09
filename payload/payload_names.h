// The names a payload table may give the files and folders it writes. The installer runs
// elevated and payload.exe extracts archives from anywhere, so a target path is only ever built
// from plain names: none that Windows would read as a stream, a device or a step out of the
// destination folder, and none that it would store under another name.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "payload/payload_format.h"

namespace engine {

// True for CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-COM9 and LPT0-LPT9 (also with the
// superscript digits 1, 2 and 3) in any letter case, alone or followed by an extension, with any
// blanks before it: Windows opens the device for such a name in whatever folder it stands.
bool is_device_name(std::wstring_view name);

// True for a name that Windows stores as written: not empty, not "." or "..", without control
// characters and without any of < > : " / \ | ? *, not ending in a dot or a blank (which Windows
// drops), and not a device name.
bool is_plain_name(std::wstring_view name);

// Why the entry cannot be written where its names say, in words for the release engineer (the
// payload tool names the manifest line with it); empty when it can. The entry's file name (the
// last component of its source path) and every folder of its destination after the leading path
// token or drive must be plain names; the destination must start with one of the path tokens or
// be a full path with a drive letter: anything else would be written relative to whatever folder
// the installer runs in.
std::string entry_name_fault(const PayloadEntry& entry);

// Throws std::system_error(compress_errc::unexpected) for an entry with a fault.
void check_entry_names(const PayloadEntry& entry);

}  // namespace engine
