#include "uninstall_log/log_format.h"

#include "nv/product.h"

namespace uninstall_log {
namespace {

// `value` in base 10 or 16 (lower case) with at least `min_digits` digits, "0" filling.
std::wstring padded(std::uint64_t value, unsigned base, std::size_t min_digits) {
  static constexpr wchar_t digits[] = L"0123456789abcdef";
  std::wstring text;
  do {
    text.insert(text.begin(), digits[value % base]);
    value /= base;
  } while (value != 0);
  if (text.size() < min_digits) text.insert(0, min_digits - text.size(), L'0');
  return text;
}

int hex_digit(wchar_t c) noexcept {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Walks an entry line field by field; every field may be preceded by white space.
class field_reader {
 public:
  explicit field_reader(std::wstring_view line) : line_(line) {}

  void skip_space() {
    while (pos_ < line_.size() && is_log_space(line_[pos_])) ++pos_;
  }

  // A run of decimal digits (any length: the index's value is not used).
  bool decimal() {
    skip_space();
    const std::size_t start = pos_;
    while (pos_ < line_.size() && line_[pos_] >= L'0' && line_[pos_] <= L'9') ++pos_;
    return pos_ > start;
  }

  // A run of hexadecimal digits into `value`; fails on overflow of 32 bits.
  bool hexadecimal(std::uint32_t& value) {
    skip_space();
    const std::size_t start = pos_;
    std::uint64_t v = 0;
    for (int d; pos_ < line_.size() && (d = hex_digit(line_[pos_])) >= 0; ++pos_) {
      v = v * 16 + static_cast<unsigned>(d);
      if (v > 0xFFFFFFFFu) return false;
    }
    value = static_cast<std::uint32_t>(v);
    return pos_ > start;
  }

  bool character(wchar_t expected) {
    skip_space();
    if (pos_ >= line_.size() || line_[pos_] != expected) return false;
    ++pos_;
    return true;
  }

  // One character out of `allowed`, returned in `out`.
  bool one_of(std::wstring_view allowed, wchar_t& out) {
    skip_space();
    if (pos_ >= line_.size() || allowed.find(line_[pos_]) == std::wstring_view::npos) return false;
    out = line_[pos_++];
    return true;
  }

  // The next run of non-space characters.
  std::wstring_view word() {
    skip_space();
    const std::size_t start = pos_;
    while (pos_ < line_.size() && !is_log_space(line_[pos_])) ++pos_;
    return line_.substr(start, pos_ - start);
  }

  std::wstring_view rest() {
    skip_space();
    return line_.substr(pos_);
  }

 private:
  std::wstring_view line_;
  std::size_t pos_ = 0;
};

}  // namespace

std::wstring uninstall_key_text() {
  return L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
         nv::product_registry_name(nv::current_product());
}

std::wstring header_line(std::wstring_view text) {
  std::wstring line(header_prefix);
  line += text;
  line += line_end;
  return line;
}

std::wstring header_lines(std::wstring_view label, std::wstring_view previousLabel,
                          std::wstring_view installFolder, std::wstring_view menuFolder) {
  std::wstring install(install_marker);
  install += L' ';
  install += label;
  if (!previousLabel.empty()) {
    install += update_marker;
    install += previousLabel;
    install += L')';
  }
  std::wstring path(install_path_marker);
  path += installFolder;
  std::wstring shortcuts(shortcut_path_marker);
  shortcuts += menuFolder;
  const std::wstring rule(shortcuts.size(), L'-');

  return header_line(std::wstring(version_marker) + std::to_wstring(format_version)) +
         header_line(warning_text) + header_line(install) + header_line(path) +
         header_line(shortcuts) + header_line(rule);
}

std::uint32_t entry_code(const engine::JournalRecord& record) {
  return (static_cast<std::uint32_t>(record.kind) << 8) +
         (static_cast<std::uint32_t>(record.payloadKind) & 0xFFu);
}

std::wstring entry_line(std::size_t index, const engine::JournalRecord& record,
                        std::wstring_view text) {
  std::wstring line = padded(index, 10, 4);
  line += L':';
  line += padded(entry_code(record), 16, 4);
  line += L':';
  line += record.done ? L'1' : L'0';
  line += entry_separator;
  line += text;
  line += line_end;
  return line;
}

bool is_log_space(wchar_t c) noexcept {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

std::optional<engine::JournalRecord> parse_entry_line(std::wstring_view line) {
  field_reader fields(line);
  std::uint32_t code = 0;
  wchar_t done = 0;
  if (!fields.decimal() || !fields.character(L':') || !fields.hexadecimal(code) ||
      !fields.character(L':') || !fields.one_of(L"01", done) || fields.word() != L"--")
    return std::nullopt;
  const std::uint32_t kind = code >> 8;
  if (kind > static_cast<std::uint32_t>(engine::RecordKind::DirectXUpdate)) return std::nullopt;

  engine::JournalRecord record;
  record.kind = static_cast<engine::RecordKind>(kind);
  const std::uint32_t low = code & 0xFFu;
  record.payloadKind = low == 0xFFu ? -1 : static_cast<std::int32_t>(low);
  record.done = done == L'1';
  record.path = std::wstring(fields.rest());
  return record;
}

}  // namespace uninstall_log
