#include "payload/embedded_payload.h"

#include <windows.h>

#include "payload/payload_digest.h"

namespace engine {

namespace {

// The bytes of this executable's resource `name` of the payload's type; empty when it is
// missing, empty or cannot be loaded.
std::span<const std::byte> own_resource(unsigned short name) {
  HMODULE self = ::GetModuleHandleW(nullptr);
  HRSRC info = ::FindResourceW(self, MAKEINTRESOURCEW(name), MAKEINTRESOURCEW(payload_resource_type));
  if (!info) return {};
  const DWORD size = ::SizeofResource(self, info);
  HGLOBAL loaded = ::LoadResource(self, info);
  if (!loaded || size == 0) return {};
  const void* data = ::LockResource(loaded);
  if (!data) return {};
  return {static_cast<const std::byte*>(data), size};
}

}  // namespace

std::span<const std::byte> embedded_payload() { return own_resource(payload_resource_name); }

std::span<const std::byte> embedded_payload_digest() {
  return own_resource(payload_digest_resource_name);
}

byte_range_buf::byte_range_buf(std::span<const std::byte> bytes) {
  // std::streambuf wants mutable pointers; the get area is never written through.
  auto* begin = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
  setg(begin, begin, begin + bytes.size());
}

byte_range_buf::pos_type byte_range_buf::seekoff(off_type off, std::ios_base::seekdir dir,
                                                 std::ios_base::openmode which) {
  if (!(which & std::ios_base::in)) return pos_type(off_type(-1));
  off_type base = 0;
  if (dir == std::ios_base::cur)
    base = gptr() - eback();
  else if (dir == std::ios_base::end)
    base = egptr() - eback();
  const off_type target = base + off;
  if (target < 0 || target > egptr() - eback()) return pos_type(off_type(-1));
  setg(eback(), eback() + target, egptr());
  return pos_type(target);
}

byte_range_buf::pos_type byte_range_buf::seekpos(pos_type pos, std::ios_base::openmode which) {
  return seekoff(off_type(pos), std::ios_base::beg, which);
}

}  // namespace engine
