// The receiving end of the payload decompressor: reads header and table, resolves every entry's
// target, writes each file's bytes as they arrive, proves each file against its CRC-32 and
// reports every step to the caller's callback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "payload/path_tokens.h"
#include "payload/payload_format.h"
#include "payload/payload_notification.h"
#include "payload/payload_table_reader.h"
#include "nv/unique_handle.h"

namespace engine {

class PayloadSink {
 public:
  PayloadSink(std::wstring installFolder, std::wstring samplesFolder, std::wstring temporaryFolder,
              payload_callback callback);
  PayloadSink(const PayloadSink&) = delete;
  PayloadSink& operator=(const PayloadSink&) = delete;

  // Consumes at most up to the end of the current phase (header, rest of the table, current
  // entry) and returns how many bytes it consumed; may return 0 when an empty entry ends. Throws
  // on failure, after which the sink swallows all further input.
  std::size_t write(const std::byte* bytes, std::size_t count);

  std::uint64_t processed() const noexcept { return processed_; }
  std::uint64_t total() const noexcept { return total_; }
  bool has_failed() const noexcept { return failed_; }
  // True once the table was read and every entry has ended or was skipped as the callback
  // asked (empty entries after the last one with bytes are never begun), nothing having failed;
  // the run succeeds only then.
  bool complete() const noexcept;

  // Target of the entry that has begun and not yet ended, if any.
  std::optional<std::filesystem::path> current_target() const;

 private:
  std::size_t write_header_or_table(const std::byte* bytes, std::size_t count);
  std::size_t write_entry(const std::byte* bytes, std::size_t count);
  void read_table();
  void open_output(const std::filesystem::path& target);
  void write_output(const std::byte* bytes, std::size_t count);
  // Sends a notification whose `abort` answer stops the run.
  notification::result report(const notification& n);

  DestinationRoots roots_;
  payload_callback callback_;
  SharedFolders shared_;
  payload_table_reader table_;
  std::vector<PayloadEntry> entries_;
  std::uint64_t processed_ = 0;
  std::uint64_t total_ = 0;
  std::size_t index_ = 0;
  nv::unique_handle output_;
  std::uint64_t remaining_ = 0;
  bool begun_ = false;
  bool skipping_ = false;
  bool failed_ = false;
};

}  // namespace engine
