#include "payload/payload_table_reader.h"

#include <algorithm>
#include <system_error>

#include "payload/compress_error.h"
#include "payload/payload_names.h"

namespace engine {

std::size_t payload_table_reader::take(const std::byte* bytes, std::size_t count) {
  if (complete_) return 0;
  std::size_t took;
  if (buffer_.size() < payload_header_size) {
    took = std::min(count, payload_header_size - buffer_.size());
    buffer_.insert(buffer_.end(), bytes, bytes + took);
    if (buffer_.size() < payload_header_size) return took;
    tableEnd_ = read_table_end(buffer_);
    // Refused before any of the table is held: nothing else bounds the buffer.
    if (tableEnd_ > largest_payload_table)
      throw std::system_error(compress_errc::unexpected, "payload table beyond its limit");
  } else {
    const std::uint64_t wanted = tableEnd_ - buffer_.size();
    took = static_cast<std::size_t>(std::min<std::uint64_t>(count, wanted));
    buffer_.insert(buffer_.end(), bytes, bytes + took);
  }
  if (buffer_.size() < tableEnd_) return took;

  // A tableEnd below the header's own size leaves no room for the entry count: parsing refuses.
  entries_ = parse_payload_table(buffer_);
  for (const PayloadEntry& e : entries_) check_entry_names(e);
  length_ = payload_length(tableEnd_, entries_);
  buffer_.clear();
  buffer_.shrink_to_fit();
  complete_ = true;
  return took;
}

}  // namespace engine
