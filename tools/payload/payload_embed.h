// Putting a payload archive into a built installer: the release step that needs no compiler.
#pragma once

#include <windows.h>

#include <filesystem>

namespace payload_tool {

// What embedding found and did, for the report to the release engineer.
struct embed_result {
  LANGID language = 0;            // of the one payload resource variant, kept as it was
  bool removed_signature = false; // the installer was signed; `out` is not
};

// Writes `out`: a copy of `installer` whose payload resource (type 260, name 134) holds the
// bytes of `archive`. Refuses, with std::runtime_error and one line, an archive that the
// installer's own verification rejects, an installer without exactly one variant of that
// resource, and an `out` that names the installer. The copy is made and checked beside `out`
// under a temporary name and only then renamed to `out`: a failure leaves no file behind and an
// existing `out` as it was. A signature of `installer` cannot survive the change: it is removed.
embed_result embed_payload(const std::filesystem::path& installer,
                           const std::filesystem::path& archive, const std::filesystem::path& out);

}  // namespace payload_tool
