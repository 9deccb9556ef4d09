#include "nv/fixed_path.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>

namespace nv::fixed_path {
namespace {

// A zeroed 260-character buffer holding `text`, cut to max_length.
struct Buffer {
  wchar_t data[max_length + 1] = {};
  explicit Buffer(std::wstring_view text) {
    std::copy_n(text.data(), std::min(text.size(), max_length), data);
  }
  std::wstring str() const { return std::wstring(data, ::wcsnlen(data, max_length)); }
};

}  // namespace

std::wstring cut(std::wstring_view path) { return Buffer(path).str(); }

std::wstring append(std::wstring_view base, std::wstring_view more) {
  Buffer buffer(base);
  const Buffer tail(more);
  if (!::PathAppendW(buffer.data, tail.data)) return {};
  return buffer.str();
}

std::wstring combine(std::wstring_view directory, std::wstring_view file) {
  Buffer result(L"");
  const Buffer dir(directory);
  const Buffer name(file);
  if (!::PathCombineW(result.data, directory.empty() ? nullptr : dir.data,
                      file.empty() ? nullptr : name.data))
    return {};
  return result.str();
}

std::wstring remove_file_spec(std::wstring_view path) {
  Buffer buffer(path);
  ::PathRemoveFileSpecW(buffer.data);
  return buffer.str();
}

std::wstring file_name(std::wstring_view path) {
  const Buffer buffer(path);
  return ::PathFindFileNameW(buffer.data);
}

std::wstring add_backslash(std::wstring_view path) {
  Buffer buffer(path);
  ::PathAddBackslashW(buffer.data);
  return buffer.str();
}

std::wstring remove_backslash(std::wstring_view path) {
  Buffer buffer(path);
  ::PathRemoveBackslashW(buffer.data);
  return buffer.str();
}

}  // namespace nv::fixed_path
