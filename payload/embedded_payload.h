// Access to the payload archive embedded in the installer's own executable (resource type 260,
// name 134) and to its digest (name 135, see payload/payload_digest.h), and a rewindable input
// stream over such a byte range.
#pragma once

#include <cstddef>
#include <istream>
#include <span>
#include <streambuf>

namespace engine {

inline constexpr unsigned short payload_resource_type = 260;
inline constexpr unsigned short payload_resource_name = 134;

// The archive's bytes, valid for the life of the process; empty when the resource is missing,
// empty or cannot be loaded.
std::span<const std::byte> embedded_payload();
// The digest resource's bytes, likewise; empty for an installer built without `payload embed`.
std::span<const std::byte> embedded_payload_digest();

// Read-only, seekable stream buffer over bytes owned elsewhere.
class byte_range_buf : public std::streambuf {
 public:
  explicit byte_range_buf(std::span<const std::byte> bytes);

 protected:
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;
};

// Input stream over a byte range, e.g. the embedded archive; rewind with seekg(0) after clear().
class byte_range_stream : public std::istream {
 public:
  explicit byte_range_stream(std::span<const std::byte> bytes) : std::istream(nullptr), buf_(bytes) {
    rdbuf(&buf_);
  }

 private:
  byte_range_buf buf_;
};

}  // namespace engine
