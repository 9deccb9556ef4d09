// CRC-32 as zip and zlib compute it, for the payload's files and for every record file the
// programs write (journal, saved state, pending deletions), which check their bytes with it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nv {

// Incremental CRC-32 of ISO-HDLC / zlib: reflected polynomial 0xEDB88320, initial value
// 0xFFFFFFFF, final complement. Sixteen bytes per table step, the unaligned head and the tail byte
// by byte; pieces of any size give the same result as the whole.
class crc32 {
 public:
  void update(const void* data, std::size_t count) noexcept;
  std::uint32_t value() const noexcept { return ~state_; }
  void reset() noexcept { state_ = 0xFFFFFFFFu; }

  // CRC-32 of one complete buffer.
  static std::uint32_t of(const void* data, std::size_t count) noexcept;

 private:
  std::uint32_t state_ = 0xFFFFFFFFu;
};

}  // namespace nv
