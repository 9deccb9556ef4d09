// The installer's own error category "compress": failures of the payload extractor that carry
// no operating-system code.
#pragma once

#include <system_error>

namespace engine {

enum class compress_errc {
  invalid_checksum = 3,     // a written file's CRC-32 differs from the table
  verification_failed = 4,  // the verifying decompression before extraction failed
  interrupted = 5,          // the callback answered abort
  bzip2_failure = 6,        // corrupt or truncated bzip2 data
  unexpected = 7,           // data beyond or short of the table, unknown folder, anything else
};

const std::error_category& compress_category() noexcept;

std::error_code make_error_code(compress_errc e) noexcept;

}  // namespace engine

template <>
struct std::is_error_code_enum<engine::compress_errc> : std::true_type {};
