// An installer executable read as data, none of its code run: the variants of its payload
// resource and the certificate table that an Authenticode signature occupies.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace payload_tool {

// One language variant of the payload resource (type 260, name 134) and its bytes.
struct payload_variant {
  LANGID language = 0;
  std::vector<std::byte> bytes;
};

// Every variant of the resource `name` of the payload's type (260) in `exe`; empty when it has
// none. Throws std::runtime_error when `exe` cannot be read as a Windows executable.
std::vector<payload_variant> resource_variants(const std::filesystem::path& exe,
                                               unsigned short name);
// The variants of the payload resource (name 134).
std::vector<payload_variant> payload_variants(const std::filesystem::path& exe);

// Where the certificate table of an executable lies: file offset and size, both 0 when there is
// none (the executable is not signed).
struct certificate_table {
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
};

// The certificate table named by the security entry of `exe`'s data directory. Throws
// std::runtime_error when the headers are not those of a 32-bit Windows executable.
certificate_table find_certificate_table(const std::filesystem::path& exe);

// Removes the signature of `exe` in place: empties the security entry and cuts the certificate
// table off the end of the file. Throws std::runtime_error when the table is not the end of the
// file (where Authenticode puts it) or the file cannot be written.
void remove_certificate_table(const std::filesystem::path& exe);

// The COFF symbol and string tables that lie behind the last section (an executable of this
// toolchain always has the string table: it holds the long section names such as .eh_frame):
// their file offset, 0 when there are none, and every byte from there to the end of the file.
struct symbol_tables {
  std::uint32_t offset = 0;
  std::vector<std::byte> bytes;
};

// Reads the symbol tables of `exe`, which must not be signed (the certificate table comes last).
symbol_tables read_symbol_tables(const std::filesystem::path& exe);

// After a rewrite of `exe` that carried `tables` along to the new end of the file: points the
// header at them again. Throws std::runtime_error when the file does not end with those bytes.
void point_at_symbol_tables(const std::filesystem::path& exe, const symbol_tables& tables);

}  // namespace payload_tool
