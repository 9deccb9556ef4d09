// Building a payload archive from a manifest: the release engineer's side of the format the
// installer reads.
#pragma once

#include <filesystem>
#include <istream>
#include <string>
#include <vector>

#include "payload/payload_format.h"

namespace payload_tool {

// The entries of a manifest and, for each, the file its bytes are read from.
struct manifest {
  std::vector<engine::PayloadEntry> entries;
  std::vector<std::filesystem::path> files;
};

// The manifest's names of the kinds, by kind number: LanguageLibrary, MainProgram, Uninstaller,
// SharedData, Sample, Temporary.
extern const char* const kind_names[6];

// Reads a manifest (UTF-8, one `KIND<TAB>DESTINATION<TAB>SOURCE` per line, blank lines and lines
// starting with '#' ignored; KIND a number 0-5 or a kind name). A relative SOURCE is read from
// the manifest's folder and stored as written (normalised, with backslashes); an absolute one is
// stored as its file name alone. So the archive holds nothing of the folders of the machine that
// packed it, and the same manifest and files give the same bytes anywhere. Size and CRC are left
// 0. Throws std::runtime_error naming the line (and the entry) for a malformed one, for an entry
// the installer could not write where its names say (engine::entry_name_fault: an unknown path
// token, a relative destination, a name Windows does not store as written), for a second entry
// with the same target; and for a manifest without exactly one MainProgram and one Uninstaller.
// `partial` leaves out the check of the required kinds, for tests of what an installer does with a
// payload packed elsewhere; never for a release.
manifest read_manifest(const std::filesystem::path& file, bool partial = false);

// The entries of the table at the start of a compressed archive. Throws std::runtime_error when
// there is no complete table.
std::vector<engine::PayloadEntry> read_table(std::istream& compressed);

// The first entry of the archive's table that the installer would refuse, as "entry N (KIND
// DESTINATION SOURCE): rule"; empty when every entry passes or the table cannot be read (the
// verification says so then).
std::string table_fault(std::istream& compressed);

// Packs the entries' source files, table first, into one bzip2 stream (block size 9) at `out`,
// filling in each entry's size and CRC. Throws std::runtime_error on unreadable input or output.
void pack_payload(manifest& content, const std::filesystem::path& out);

}  // namespace payload_tool
