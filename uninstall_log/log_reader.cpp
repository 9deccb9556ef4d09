// Reading a previous installation's uninstall log into the journal's previous* members.
#include <windows.h>
#include <shlwapi.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include <boost/algorithm/string/trim.hpp>

#include "transaction/install_journal.h"
#include "nv/unique_handle.h"
#include "uninstall_log/log_format.h"

namespace {

using namespace uninstall_log;

// Reads a file through ReadFile in blocks and hands out its bytes one by one.
class byte_source {
 public:
  explicit byte_source(HANDLE file) : file_(file) {}

  // A read failed: the line being collected is not to be trusted.
  bool failed() const noexcept { return failed_; }

  // The next byte, or nothing at the end of the file or on a read error.
  std::optional<unsigned char> next() {
    if (pos_ == size_ && !refill()) return std::nullopt;
    return buffer_[pos_++];
  }

 private:
  bool refill() {
    if (finished_) return false;
    DWORD read = 0;
    if (!::ReadFile(file_, buffer_.data(), static_cast<DWORD>(buffer_.size()), &read, nullptr)) {
      failed_ = finished_ = true;
      return false;
    }
    if (read == 0) {
      finished_ = true;
      return false;
    }
    pos_ = 0;
    size_ = read;
    return true;
  }

  HANDLE file_;
  bool failed_ = false;
  std::array<unsigned char, 4096> buffer_{};
  std::size_t pos_ = 0;
  std::size_t size_ = 0;
  bool finished_ = false;
};

// One line as the reader sees it.
struct raw_line {
  enum class state { ok, end, damaged } status = state::end;
  std::wstring text;  // with its line feed, if it had one
};

// Splits the log into lines: UTF-16LE when the file starts with FF FE, else bytes of the
// thread's ANSI code page. A line of more than max_line_bytes bytes (line feed included, the
// byte-order mark not), a dangling half code unit and a NUL character make the line damaged.
class line_source {
 public:
  explicit line_source(HANDLE file) : bytes_(file) {
    const auto first = bytes_.next();
    if (!first) return;
    const auto second = bytes_.next();
    if (*first == 0xFF && second && *second == 0xFE) {
      wide_ = true;
      return;
    }
    pending_[pending_count_++] = *first;
    if (second) pending_[pending_count_++] = *second;
  }

  raw_line next() {
    return wide_ ? next_wide() : next_narrow();
  }

 private:
  std::optional<unsigned char> next_byte() {
    if (pending_used_ < pending_count_) return pending_[pending_used_++];
    return bytes_.next();
  }

  raw_line next_wide() {
    raw_line line;
    std::size_t bytes = 0;
    for (;;) {
      const auto low = next_byte();
      if (!low) break;
      const auto high = next_byte();
      if (!high) return {raw_line::state::damaged, {}};
      bytes += 2;
      if (bytes > max_line_bytes) return {raw_line::state::damaged, {}};
      const wchar_t unit = static_cast<wchar_t>(*low | (*high << 8));
      if (unit == L'\0') return {raw_line::state::damaged, {}};
      line.text += unit;
      if (unit == L'\n') break;
    }
    if (bytes_.failed()) return {raw_line::state::damaged, {}};
    line.status = line.text.empty() ? raw_line::state::end : raw_line::state::ok;
    return line;
  }

  raw_line next_narrow() {
    std::string bytes;
    for (;;) {
      const auto byte = next_byte();
      if (!byte) break;
      if (bytes.size() == max_line_bytes || *byte == 0) return {raw_line::state::damaged, {}};
      bytes += static_cast<char>(*byte);
      if (*byte == '\n') break;
    }
    if (bytes_.failed()) return {raw_line::state::damaged, {}};
    if (bytes.empty()) return {raw_line::state::end, {}};
    const int size = static_cast<int>(bytes.size());
    const int length =
        ::MultiByteToWideChar(CP_THREAD_ACP, MB_PRECOMPOSED, bytes.data(), size, nullptr, 0);
    if (length <= 0) return {raw_line::state::damaged, {}};
    raw_line line{raw_line::state::ok, std::wstring(static_cast<std::size_t>(length), L'\0')};
    ::MultiByteToWideChar(CP_THREAD_ACP, MB_PRECOMPOSED, bytes.data(), size, line.text.data(),
                          length);
    // A code page can map a byte to NUL only from a NUL byte, which was refused above.
    return line;
  }

  byte_source bytes_;
  bool wide_ = false;
  std::array<unsigned char, 2> pending_{};
  std::size_t pending_count_ = 0;
  std::size_t pending_used_ = 0;
};

void trim_left(std::wstring& text) { boost::algorithm::trim_left_if(text, is_log_space); }
void trim_right(std::wstring& text) { boost::algorithm::trim_right_if(text, is_log_space); }
void trim(std::wstring& text) { boost::algorithm::trim_if(text, is_log_space); }

// Removes `marker` from `text` at its first occurrence; false when it does not occur.
bool cut_marker(std::wstring& text, std::wstring_view marker) {
  const std::size_t at = text.find(marker);
  if (at == std::wstring::npos) return false;
  text.erase(at, marker.size());
  return true;
}

// The version number at the start of `text` (after white space); 0 when there is none or it
// does not fit.
int leading_number(std::wstring_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && is_log_space(text[pos])) ++pos;
  long long value = 0;
  const std::size_t start = pos;
  for (; pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9'; ++pos) {
    value = value * 10 + (text[pos] - L'0');
    if (value > 1'000'000) return 0;
  }
  return pos > start ? static_cast<int>(value) : 0;
}

bool is_folder(const std::wstring& path) {
  return !path.empty() && ::PathIsDirectoryW(path.c_str()) != FALSE;
}

}  // namespace

namespace engine {

bool CInstallJournal::ReadUninstallLog(const wchar_t* path, LogReading reading) {
  using namespace uninstall_log;
  previousInstallFolder.clear();
  previousMenuFolder.clear();
  if (!path) return false;

  const nv::unique_handle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;

  // A whole reading accepts only a log that follows the grammar to its last line feed: the
  // six header lines, then entries that all parse (and header lines, ignored). The reading up to damage keeps what it read
  // before the first line it cannot use.
  const bool whole = reading == LogReading::whole;
  line_source lines(file.get());
  int version = 0;
  for (std::size_t position = 0;; ++position) {
    raw_line raw = lines.next();
    if (raw.status == raw_line::state::end)
      return version == format_version && (!whole || position >= header_line_count);
    if (raw.status != raw_line::state::ok) return !whole && version == format_version;
    if (whole && raw.text.back() != L'\n') return false;
    std::wstring line = std::move(raw.text);
    trim_right(line);
    const bool header = line.size() >= 2 && line.compare(0, 2, L"//") == 0;
    if (whole && !header && position < header_line_count) return false;

    if (header) {
      line.erase(0, line.find_first_not_of(L'/'));
      trim_left(line);
      switch (position) {
        case 0:
          if (cut_marker(line, version_marker)) version = leading_number(line);
          if (version != format_version) return false;
          break;
        case 2: {
          if (!cut_marker(line, install_marker)) return !whole && version == format_version;
          const std::size_t end = line.find(label_end_marker);
          if (end != std::wstring::npos) line.erase(end);
          trim(line);
          previousLabel = line;
          break;
        }
        case 3:
        case 4: {
          // The marker ends with a space that the trimming above takes from a line whose folder
          // is empty; the space is put back so that such a line still counts.
          line += L' ';
          if (!cut_marker(line, position == 3 ? install_path_marker : shortcut_path_marker))
            return !whole && version == format_version;
          trim(line);
          // The next installer proposes only folders that still exist; the uninstaller takes
          // the folders as recorded, for a removal started again after one that removed them.
          if (whole || is_folder(line))
            (position == 3 ? previousInstallFolder : previousMenuFolder) = line;
          break;
        }
        default:
          break;
      }
      continue;
    }

    if (version != format_version) return false;
    std::optional<JournalRecord> record = parse_entry_line(line);
    if (!record) return !whole && version == format_version;
    if (record->kind == RecordKind::UninstallKey || record->kind == RecordKind::ProductRegistration)
      record->path.clear();
    previousRecords.push_back(std::move(*record));
  }
}

}  // namespace engine
