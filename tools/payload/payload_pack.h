// Building a payload archive from a manifest: the release engineer's side of the format the
// installer reads.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "engine/payload_format.h"

namespace payload_tool {

// Entries of a manifest (UTF-8, one `KIND<TAB>DESTINATION<TAB>SOURCE` per line, blank lines and
// lines starting with '#' ignored; KIND a number 0-5 or a kind name). Sources become absolute,
// relative to the manifest's folder; size and CRC are left 0. Throws std::runtime_error naming
// the line for a malformed one.
std::vector<engine::PayloadEntry> read_manifest(const std::filesystem::path& manifest);

// Packs the entries' source files, table first, into one bzip2 stream (block size 9) at `out`,
// filling in each entry's size and CRC. Throws std::runtime_error on unreadable input or output.
void pack_payload(std::vector<engine::PayloadEntry>& entries, const std::filesystem::path& out);

}  // namespace payload_tool
