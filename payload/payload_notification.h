// The extractor's reports to its caller (`notification`) and the caller's answers
// (`notification::result`): started, finished, file_begin, file_end, progress and failed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <system_error>
#include <variant>

#include "payload/payload_format.h"

namespace engine {

// Sent once, before any byte is decompressed.
struct started {};

// Sent once after the last byte of a successful run.
struct finished {
  std::uint64_t copied = 0;  // compressed bytes read from the archive
  std::uint64_t total = 0;   // decompressed bytes, header and table included
};

// The first byte of an entry's data has arrived.
struct file_begin {
  const PayloadEntry& entry;
};

// An entry was written, closed and proven; never sent for a skipped entry.
struct file_end {
  const PayloadEntry& entry;
};

// Decompressed bytes consumed so far out of the total the table announces.
struct progress {
  std::uint64_t processed = 0;
  std::uint64_t total = 0;
};

// Sent once when the run fails; `path` is the file concerned, possibly empty.
struct failed {
  std::error_code code;
  std::wstring path;
};

struct notification : std::variant<started, finished, file_begin, file_end, progress, failed> {
  using variant::variant;

  // The callback's answer. `abort` is honoured after file_begin, file_end and progress; `skip`
  // after file_begin only. Answers to started, finished and failed are ignored.
  enum class result { proceed = 0, abort = 1, skip = 2 };
};

using payload_callback = std::function<notification::result(const notification&)>;

}  // namespace engine
