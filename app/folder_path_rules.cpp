#include "app/folder_path_rules.h"

#include <shlwapi.h>

#include "nv/fixed_path.h"

namespace folder_picker_rules {
namespace {

constexpr size_t kBuffer = MAX_PATH;

bool hasSeparator(std::wstring_view path) { return path.find(L'\\') != std::wstring_view::npos; }

// True when `path` has no component left to remove (a single name or a root).
bool downToLastComponent(const std::wstring& path) {
  return !hasSeparator(path) || nv::fixed_path::remove_file_spec(path) == path;
}

// `path` without its last component; empty when it had only one.
std::wstring withoutLastComponent(const std::wstring& path) {
  return hasSeparator(path) ? nv::fixed_path::remove_file_spec(path) : std::wstring();
}

bool validPathCharacters(std::wstring_view text) {
  for (wchar_t c : text) {
    const UINT type = ::PathGetCharTypeW(c);
    if (type == GCT_INVALID || (type & GCT_WILD)) return false;
  }
  return true;
}

std::error_code systemError(DWORD code) {
  return {static_cast<int>(code), std::system_category()};
}

std::error_code lastError() {
  const DWORD code = ::GetLastError();
  return systemError(code != 0 ? code : ERROR_BAD_PATHNAME);
}

std::wstring currentDirectory() {
  wchar_t buffer[kBuffer] = {};
  const DWORD length = ::GetCurrentDirectoryW(kBuffer, buffer);
  if (length == 0 || length >= kBuffer) return {};
  return buffer;
}

// Makes a folder the current directory for its lifetime and restores the previous one after.
class CurrentDirectoryChange {
 public:
  CurrentDirectoryChange(const std::wstring& folder, std::error_code& error)
      : previous_(currentDirectory()) {
    if (previous_.empty()) {
      error = lastError();
    } else if (!::SetCurrentDirectoryW(folder.c_str())) {
      error = lastError();
      previous_.clear();
    }
  }
  ~CurrentDirectoryChange() {
    if (!previous_.empty()) ::SetCurrentDirectoryW(previous_.c_str());
  }
  CurrentDirectoryChange(const CurrentDirectoryChange&) = delete;
  CurrentDirectoryChange& operator=(const CurrentDirectoryChange&) = delete;

 private:
  std::wstring previous_;
};

}  // namespace

size_t trailingMatch(std::wstring_view path, std::wstring_view suffix) {
  std::wstring p = nv::fixed_path::remove_backslash(path);
  std::wstring s = nv::fixed_path::remove_backslash(suffix);
  size_t matched = 0;
  while (!s.empty()) {
    if (downToLastComponent(p)) return 0;
    const std::wstring pLast = nv::fixed_path::file_name(p);
    const std::wstring sLast = nv::fixed_path::file_name(s);
    if (::lstrcmpiW(pLast.c_str(), sLast.c_str()) != 0) return 0;
    ++matched;
    p = nv::fixed_path::remove_file_spec(p);
    s = withoutLastComponent(s);
  }
  return matched;
}

size_t componentCount(std::wstring_view path) {
  size_t count = 0;
  bool inName = false;
  for (wchar_t c : path) {
    if (c == L'\\') {
      inName = false;
    } else if (!inName) {
      inName = true;
      ++count;
    }
  }
  return count;
}

std::wstring sanitizeSubFolder(std::wstring_view subFolder) {
  if (!validPathCharacters(subFolder)) return {};
  std::wstring result(subFolder);
  while (!result.empty() && result.back() == L'.') result.pop_back();
  return result;
}

std::wstring appendSubFolder(std::wstring_view selection, std::wstring_view subFolder) {
  std::wstring sub = nv::fixed_path::remove_backslash(subFolder);
  if (sub.empty()) return std::wstring(selection);
  const size_t wanted = componentCount(sub);
  if (trailingMatch(selection, sub) == wanted) return std::wstring(selection);

  // Longest leading part of the sub-folder that the selection already ends with.
  std::wstring rest = sub;
  for (std::wstring lead = withoutLastComponent(sub); !lead.empty();
       lead = withoutLastComponent(lead)) {
    if (trailingMatch(selection, lead) == componentCount(lead)) {
      rest = sub.substr(lead.size());
      while (!rest.empty() && rest.front() == L'\\') rest.erase(0, 1);
      break;
    }
  }
  if (selection.size() + 1 + rest.size() > nv::fixed_path::max_length) {
    return std::wstring(selection);
  }
  std::wstring appended = nv::fixed_path::append(selection, rest);
  return appended.empty() ? std::wstring(selection) : appended;
}

std::wstring chosenFolder(std::wstring_view selection, std::wstring_view subFolder) {
  const size_t count = componentCount(subFolder);
  if (count == 0 || trailingMatch(selection, subFolder) != count) return std::wstring(selection);
  std::wstring result = nv::fixed_path::remove_backslash(selection);
  for (size_t i = 0; i < count; ++i) result = nv::fixed_path::remove_file_spec(result);
  return result;
}

std::optional<std::wstring> relativeTo(std::wstring_view base, std::wstring_view path) {
  if (base.size() >= kBuffer || path.size() >= kBuffer) return std::nullopt;
  const std::wstring from(base);
  const std::wstring to(path);
  wchar_t relative[kBuffer] = {};
  if (!::PathRelativePathToW(relative, from.c_str(), FILE_ATTRIBUTE_DIRECTORY, to.c_str(),
                             FILE_ATTRIBUTE_DIRECTORY)) {
    return std::nullopt;
  }
  std::wstring result = relative;
  // Canonicalising drops the leading ".\" of a path below the base. A path that climbs out of
  // the base ("..\x") is left as it is: canonicalising would drop its ".." parts and turn it into
  // a different folder.
  if (result.rfind(L"..", 0) != 0) {
    wchar_t canonical[kBuffer] = {};
    if (!::PathCanonicalizeW(canonical, relative)) return std::nullopt;
    result = canonical;
    if (result.rfind(L".\\", 0) == 0) result.erase(0, 2);
  }
  if (result == L".") result.clear();
  return result;
}

std::wstring qualifyTypedPath(std::wstring_view typed, std::wstring_view baseFolder,
                              std::error_code& error) {
  error.clear();
  if (typed.size() >= kBuffer) {
    error = systemError(0x800700CEu);
    return {};
  }
  // Surrounding blanks and one trailing backslash go; a bare drive gets its root.
  const size_t first = typed.find_first_not_of(L" \t");
  const size_t last = typed.find_last_not_of(L" \t");
  std::wstring text = first == std::wstring_view::npos
                          ? std::wstring()
                          : std::wstring(typed.substr(first, last - first + 1));
  if (!text.empty() && text.back() == L'\\') text.pop_back();
  if (text.size() == 2 && text[1] == L':') text += L'\\';
  if (text.empty()) {
    text = currentDirectory();
    if (text.empty()) {
      error = lastError();
      return {};
    }
  }

  wchar_t qualified[kBuffer] = {};
  BOOL ok = FALSE;
  const std::wstring base(baseFolder);
  if (base.empty()) {
    ok = ::PathSearchAndQualifyW(text.c_str(), qualified, kBuffer);
  } else {
    CurrentDirectoryChange change(base, error);
    if (error) return {};
    ok = ::PathSearchAndQualifyW(text.c_str(), qualified, kBuffer);
  }
  if (!ok) {
    error = systemError(ERROR_BAD_PATHNAME);
    return {};
  }
  std::wstring result = qualified;
  if (!base.empty()) {
    const std::wstring trimmedBase = nv::fixed_path::remove_backslash(base);
    const int common = ::PathCommonPrefixW(result.c_str(), trimmedBase.c_str(), nullptr);
    if (common < 0 || static_cast<size_t>(common) != trimmedBase.size()) {
      error = systemError(ERROR_BAD_PATHNAME);
      return {};
    }
  }
  if (!validPathCharacters(result)) {
    error = systemError(ERROR_BAD_PATHNAME);
    return {};
  }
  return result;
}

}  // namespace folder_picker_rules
