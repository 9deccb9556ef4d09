#include "payload/payload_digest.h"

#include <algorithm>
#include <vector>

#include "payload/payload_extractor.h"
#include "payload/payload_format.h"
#include "nv/crc32.h"

namespace engine {
namespace {

constexpr std::byte magic[4] = {std::byte{'N'}, std::byte{'V'}, std::byte{'P'}, std::byte{'D'}};

std::uint64_t read_le(std::span<const std::byte> bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = bytes.size(); i-- > 0;)
    value = (value << 8) | std::to_integer<unsigned>(bytes[i]);
  return value;
}

void write_le(std::byte* out, std::uint64_t value, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i, value >>= 8) out[i] = std::byte(value & 0xFF);
}

// The digest of what `payload` holds from its current position to its end.
std::optional<PayloadDigest> digest_of_stream(std::istream& payload) {
  nv::crc32 crc;
  PayloadDigest digest;
  std::vector<char> block(1 << 16);
  while (payload) {
    payload.read(block.data(), static_cast<std::streamsize>(block.size()));
    const std::streamsize got = payload.gcount();
    if (got <= 0) break;
    crc.update(block.data(), static_cast<std::size_t>(got));
    digest.size += static_cast<std::uint64_t>(got);
  }
  if (payload.bad()) return std::nullopt;
  digest.crc = crc.value();
  return digest;
}

}  // namespace

PayloadDigest digest_of(std::span<const std::byte> archive) {
  return {nv::crc32::of(archive.data(), archive.size()), archive.size()};
}

std::array<std::byte, payload_digest_bytes> encode_payload_digest(const PayloadDigest& digest) {
  std::array<std::byte, payload_digest_bytes> bytes{};
  std::copy(std::begin(magic), std::end(magic), bytes.begin());
  write_le(bytes.data() + 4, digest.crc, 4);
  write_le(bytes.data() + 8, digest.size, 8);
  return bytes;
}

std::optional<PayloadDigest> decode_payload_digest(std::span<const std::byte> bytes) {
  if (bytes.size() != payload_digest_bytes ||
      !std::equal(std::begin(magic), std::end(magic), bytes.begin()))
    return std::nullopt;
  return PayloadDigest{static_cast<std::uint32_t>(read_le(bytes.subspan(4, 4))),
                       read_le(bytes.subspan(8, 8))};
}

bool prove_payload(std::istream& payload, std::span<const std::byte> digest) {
  const auto start = payload.tellg();
  if (start == std::istream::pos_type(-1)) return false;
  const auto rewind = [&] {
    payload.clear();
    payload.seekg(start);
    return static_cast<bool>(payload);
  };
  bool proven = false;
  if (digest.empty()) {
    proven = verify_payload(payload);
  } else {
    // The archive was verified whole before its digest was recorded: bytes with that length and
    // CRC-32 are those bytes, and what the extraction checks before writing is the table's.
    const std::optional<PayloadDigest> recorded = decode_payload_digest(digest);
    const std::optional<PayloadDigest> found = recorded ? digest_of_stream(payload) : std::nullopt;
    proven = found && *found == *recorded && rewind() && verify_payload_table(payload);
  }
  return rewind() && proven;
}

}  // namespace engine
