// Reads the header and table from the first decompressed bytes of a payload and refuses a table
// that nothing may be written from: a header announcing more than largest_payload_table, a table
// that runs past its end, names that are not plain (payload_names.h), or sizes whose sum does not
// fit in 64 bits. The extractor's sink reads its table through it, and the verifying pass checks
// the table the same way before the installer writes anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "payload/payload_format.h"

namespace engine {

class payload_table_reader {
 public:
  // Takes bytes up to the end of the table at most and returns how many it took; nothing once
  // the table is complete. Throws std::system_error(compress_errc::unexpected) as soon as the
  // header announces a table beyond the limit, and when the complete table is refused.
  std::size_t take(const std::byte* bytes, std::size_t count);

  bool complete() const noexcept { return complete_; }
  // Once complete: where the first file's bytes begin, the decompressed length the table
  // announces, and the entries as read (moved out by the first call).
  std::uint64_t table_end() const noexcept { return tableEnd_; }
  std::uint64_t length() const noexcept { return length_; }
  std::vector<PayloadEntry> take_entries() { return std::move(entries_); }

 private:
  std::vector<std::byte> buffer_;
  std::uint64_t tableEnd_ = 0;
  std::uint64_t length_ = 0;
  std::vector<PayloadEntry> entries_;
  bool complete_ = false;
};

}  // namespace engine
