#include "payload/payload_sink.h"

#include <windows.h>

#include <algorithm>
#include <limits>
#include <system_error>

#include "payload/compress_error.h"
#include "payload/file_crc32.h"
#include "machine/machine_folders.h"

namespace engine {
namespace {

[[noreturn]] void throw_last_error(const char* what) {
  throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), what);
}

// Creates `folder` with every missing ancestor, reporting the system code of the failing call.
void create_folder_tree(const std::filesystem::path& folder) {
  if (folder.empty()) return;
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  const auto parent = folder.parent_path();
  if (!parent.empty() && parent != folder && parent.native().size() < folder.native().size())
    create_folder_tree(parent);
  if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
    throw_last_error("create folder");
}

// Clears the read-only attribute of an existing target (of the file a link points to).
void make_writable(const std::filesystem::path& target) {
  std::error_code ec;
  std::filesystem::path file = target;
  if (std::filesystem::is_symlink(target, ec)) {
    auto resolved = std::filesystem::canonical(target, ec);
    if (!ec) file = resolved;
  }
  const DWORD attributes = ::GetFileAttributesW(file.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    ::SetFileAttributesW(file.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
}

}  // namespace

PayloadSink::PayloadSink(std::wstring installFolder, std::wstring samplesFolder,
                         std::wstring temporaryFolder, payload_callback callback)
    : roots_{std::move(installFolder), std::move(samplesFolder), std::move(temporaryFolder)},
      callback_(std::move(callback)) {}

std::optional<std::filesystem::path> PayloadSink::current_target() const {
  if (index_ >= 1 && begun_ && index_ - 1 < entries_.size()) return entries_[index_ - 1].destination;
  return std::nullopt;
}

bool PayloadSink::complete() const noexcept {
  if (failed_ || index_ == 0 || begun_) return false;
  // An empty entry is begun only when bytes arrive while it is current: those after the last
  // entry with bytes are never begun.
  for (std::size_t i = index_ - 1; i < entries_.size(); ++i)
    if (entries_[i].size != 0) return false;
  return true;
}

std::size_t PayloadSink::write(const std::byte* bytes, std::size_t count) {
  if (failed_) return count;
  try {
    return index_ == 0 ? write_header_or_table(bytes, count) : write_entry(bytes, count);
  } catch (...) {
    failed_ = true;
    throw;
  }
}

std::size_t PayloadSink::write_header_or_table(const std::byte* bytes, std::size_t count) {
  const std::size_t take = table_.take(bytes, count);
  if (table_.complete()) read_table();
  return take;
}

void PayloadSink::read_table() {
  // The table has passed its checks (payload_table_reader.h); every destination is resolved
  // before any file is written, so a folder that cannot be determined fails the run with
  // nothing on disk.
  entries_ = table_.take_entries();
  for (PayloadEntry& e : entries_)
    e.destination = resolve_destination(e.destination, roots_, shared_) / e.sourcePath.filename();
  total_ = table_.length();
  processed_ = table_.table_end();
  index_ = 1;
  report(progress{processed_, total_});
}

std::size_t PayloadSink::write_entry(const std::byte* bytes, std::size_t count) {
  if (index_ - 1 >= entries_.size()) throw std::system_error(compress_errc::unexpected, "data after the last entry");
  const PayloadEntry& entry = entries_[index_ - 1];
  if (!begun_) {
    const auto answer = report(file_begin{entry});
    begun_ = true;
    remaining_ = entry.size;
    skipping_ = answer == notification::result::skip;
    if (!skipping_) open_output(entry.destination);
  }
  const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(count, remaining_));
  if (!skipping_) write_output(bytes, k);
  remaining_ -= k;
  processed_ += k;
  report(progress{processed_, total_});
  if (remaining_ == 0) {
    if (!skipping_) {
      output_.reset();
      if (file_crc32(entry.destination) != entry.crc) throw std::system_error(compress_errc::invalid_checksum);
      report(file_end{entry});
    }
    ++index_;
    begun_ = false;
    skipping_ = false;
  }
  return k;
}

void PayloadSink::open_output(const std::filesystem::path& target) {
  output_.reset();
  // Nothing is made or written through a link below a folder every user can write to.
  if (const std::error_code linked = refuse_links(target.native()))
    throw std::system_error(linked, "link on the way");
  const auto parent = target.parent_path();
  if (::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES)
    make_writable(target);
  else
    create_folder_tree(parent);
  shared_.grant_shared_folders(parent);
  output_.reset(::CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!output_) throw_last_error("open for writing");
}

void PayloadSink::write_output(const std::byte* bytes, std::size_t count) {
  while (count > 0) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, std::numeric_limits<DWORD>::max()));
    if (!::WriteFile(output_.get(), bytes, chunk, &written, nullptr)) throw_last_error("write");
    bytes += written;
    count -= written;
  }
}

notification::result PayloadSink::report(const notification& n) {
  const auto answer = callback_(n);
  if (answer == notification::result::abort) throw std::system_error(compress_errc::interrupted);
  return answer;
}

}  // namespace engine
