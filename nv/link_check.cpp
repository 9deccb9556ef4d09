#include "nv/link_check.h"

#include <utility>

#include "nv/unique_handle.h"

namespace nv {
namespace {

file_facts system_facts_of_handle(HANDLE object) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(object, &information)) return {};
  return {information.dwFileAttributes, information.nNumberOfLinks};
}

DWORD system_attributes(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

link_queries& queries() {
  static link_queries current{system_attributes, system_facts_of_handle};
  return current;
}

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

link_queries set_link_queries(link_queries replacement) {
  if (!replacement.attributes) replacement.attributes = system_attributes;
  if (!replacement.of_handle) replacement.of_handle = system_facts_of_handle;
  return std::exchange(queries(), std::move(replacement));
}

file_facts facts_of(const std::wstring& path) {
  file_facts facts;
  facts.attributes = queries().attributes(path);
  if (facts.attributes == INVALID_FILE_ATTRIBUTES) return facts;
  unique_handle object(::CreateFileW(path.c_str(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                     nullptr));
  if (object) facts.links = facts_of(object.get()).links;
  return facts;
}

file_facts facts_of(HANDLE object) { return queries().of_handle(object); }

bool is_below(const std::wstring& root, const std::wstring& path) {
  std::size_t length = root.size();
  while (length > 0 && is_separator(root[length - 1])) --length;
  if (length == 0 || path.size() <= length + 1 || !is_separator(path[length])) return false;
  return ::CompareStringOrdinal(root.c_str(), static_cast<int>(length), path.c_str(),
                                static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

std::wstring first_link_below(const std::wstring& root, const std::wstring& path) {
  if (!is_below(root, path)) return {};
  std::size_t start = root.size();
  while (start < path.size() && is_separator(path[start])) ++start;
  for (std::size_t end = start; end <= path.size(); ++end) {
    if (end < path.size() && !is_separator(path[end])) continue;
    if (end == start) {  // doubled separator
      start = end + 1;
      continue;
    }
    const std::wstring element = path.substr(0, end);
    // The attributes alone decide; no element is opened on the way down.
    const file_facts facts{queries().attributes(element)};
    if (facts.attributes == INVALID_FILE_ATTRIBUTES) return {};
    if (is_link(facts)) return element;
    start = end + 1;
  }
  return {};
}

}  // namespace nv
