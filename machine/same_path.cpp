#include "machine/same_path.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

namespace engine {
namespace {

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The text with every run of separators replaced by one backslash.
std::wstring fold_separators(const std::wstring& text) {
  std::wstring folded;
  folded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (is_separator(text[i])) {
      if (i == 0 || !is_separator(text[i - 1])) folded.push_back(L'\\');
    } else {
      folded.push_back(text[i]);
    }
  }
  return folded;
}

struct handle_closer {
  void operator()(HANDLE h) const noexcept { ::CloseHandle(h); }
};
using unique_handle = std::unique_ptr<void, handle_closer>;

struct file_identity {
  DWORD volume;
  DWORD index_high;
  DWORD index_low;
  bool operator==(const file_identity&) const = default;
};

// The identity of the file or folder at `path`, or nothing when it cannot be opened.
std::optional<file_identity> identity_of(const std::filesystem::path& path) {
  HANDLE raw = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return std::nullopt;
  unique_handle file(raw);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
  return file_identity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

std::filesystem::path absolute_form(const std::filesystem::path& path) {
  DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring buffer(size, L'\0');
  DWORD length = ::GetFullPathNameW(path.c_str(), size, buffer.data(), nullptr);
  if (length == 0 || length >= size) return path;
  buffer.resize(length);
  return std::filesystem::path(buffer);
}

bool equal_ignoring_case(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool equal_elements_ignoring_case(const std::filesystem::path& a, const std::filesystem::path& b) {
  auto ia = a.begin();
  auto ib = b.begin();
  for (; ia != a.end() && ib != b.end(); ++ia, ++ib) {
    if (!equal_ignoring_case(fold_separators(ia->native()), fold_separators(ib->native())))
      return false;
  }
  return ia == a.end() && ib == b.end();
}

}  // namespace

bool SamePath(const std::filesystem::path& a, const std::filesystem::path& b) {
  if (fold_separators(a.native()) == fold_separators(b.native())) return true;
  const auto ida = identity_of(a);
  const auto idb = identity_of(b);
  if (ida && idb) return *ida == *idb;
  return equal_elements_ignoring_case(absolute_form(a), absolute_form(b));
}

}  // namespace engine
