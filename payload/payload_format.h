// Layout of the payload archive's decompressed content: an 8-byte header holding tableEnd, the
// table of entries, then every file's bytes in table order. Shared by the extractor, which reads
// the table, and by the tool that builds archives, which writes it.
// The table is held in memory while it is read, so a header announcing more than
// largest_payload_table (64 MiB) is refused at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace engine {

// What an entry is for; the extractor treats all kinds alike, the install sequence does not.
enum class PayloadKind : std::uint32_t {
  LanguageLibrary = 0,
  MainProgram = 1,
  Uninstaller = 2,
  SharedData = 3,
  Sample = 4,
  Temporary = 5,
};

// One entry of the payload table.
struct PayloadEntry {
  std::filesystem::path sourcePath;   // path on the building machine; only its file name is used
  std::filesystem::path destination;  // folder with a leading path token; after parsing by the
                                      // extractor: the full target file path
  PayloadKind kind = PayloadKind::LanguageLibrary;  // any 32-bit value as read, unvalidated
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
};

// Size of the header: tableEnd as unsigned 64-bit little-endian.
inline constexpr std::size_t payload_header_size = 8;

// The largest tableEnd accepted: header and table are held in memory until complete, and a
// real table of 10,000 entries stays under 10 MiB.
inline constexpr std::uint64_t largest_payload_table = std::uint64_t{64} << 20;

// Header and table as bytes. The first 8 bytes hold tableEnd, which equals the size of the
// returned buffer: the offset at which the first file's bytes begin.
std::vector<std::byte> serialize_payload_table(const std::vector<PayloadEntry>& entries);

// tableEnd read from the first 8 bytes of `header` (which must hold at least 8 bytes).
std::uint64_t read_table_end(std::span<const std::byte> header);

// Entries of a complete header-and-table buffer (the first tableEnd bytes of the decompressed
// archive). Only the bounds of the buffer are checked; a table that runs past them throws
// std::system_error(compress_errc::unexpected).
std::vector<PayloadEntry> parse_payload_table(std::span<const std::byte> table);

// The decompressed length a table announces: tableEnd plus the size of every entry. Throws
// std::system_error(compress_errc::unexpected) when it does not fit in 64 bits, so that sizes
// cannot wrap the length round to a small number that some shorter data then matches.
std::uint64_t payload_length(std::uint64_t tableEnd, const std::vector<PayloadEntry>& entries);

}  // namespace engine
