// The digest of an embedded payload: what `payload embed` records, beside the archive it has
// verified whole, in a resource of its own (type 260, name 135), so that the installer can prove
// the bytes it carries are those bytes with one fast pass over the compressed data instead of
// decompressing all of it twice. The resource's form is defined here once, for the tool that
// writes it and the installer that reads it: "NVPD", the CRC-32 of the archive (little-endian),
// then its length in bytes (64 bits, little-endian).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <span>

namespace engine {

inline constexpr unsigned short payload_digest_resource_name = 135;

struct PayloadDigest {
  std::uint32_t crc = 0;
  std::uint64_t size = 0;
  bool operator==(const PayloadDigest&) const = default;
};

inline constexpr std::size_t payload_digest_bytes = 16;

// The digest of `archive`'s bytes.
PayloadDigest digest_of(std::span<const std::byte> archive);

// The resource's bytes for `digest`, and back; nothing for bytes of any other form.
std::array<std::byte, payload_digest_bytes> encode_payload_digest(const PayloadDigest& digest);
std::optional<PayloadDigest> decode_payload_digest(std::span<const std::byte> bytes);

// Proves `payload` (read from its current position to its end) before anything is written, and
// rewinds it to where it started. With `digest` (the resource's bytes, empty when the installer
// has none): the bytes must have the digest's length and CRC-32, and the table must pass the
// checks the extraction makes before writing; a digest resource of any other form fails. Without
// it: verify_payload, the whole archive decompressed. False when not proven.
bool prove_payload(std::istream& payload, std::span<const std::byte> digest);

}  // namespace engine
