#include "machine/handle_removal.h"

#include <string_view>
#include <utility>
#include <vector>

#include "nv/link_check.h"
#include "nv/system_failure.h"
#include "nv/unique_handle.h"

namespace engine {
namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The system's answer without its "\\?\" prefix; "\\?\UNC\server" becomes "\\server".
std::wstring systemFinalPath(HANDLE object, std::error_code& error) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(
        object, buffer.data(), static_cast<DWORD>(buffer.size()),
        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) {
      error = nv::last_system_failure();
      return {};
    }
    if (length < buffer.size()) {
      std::wstring path(buffer.data(), length);
      constexpr std::wstring_view unc = L"\\\\?\\UNC\\";
      constexpr std::wstring_view local = L"\\\\?\\";
      if (path.starts_with(unc)) return L"\\" + path.substr(unc.size() - 1);
      if (path.starts_with(local)) return path.substr(local.size());
      return path;
    }
    buffer.resize(length + 1);
  }
}

FinalPathQuery& finalPathQuery() {
  static FinalPathQuery current = systemFinalPath;
  return current;
}

RemovalResult failure(const std::error_code& error) { return {RemovalOutcome::failed, error}; }

bool isMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// `path` without separators at its end.
std::wstring_view withoutTrailingSeparators(std::wstring_view path) {
  while (!path.empty() && isSeparator(path.back())) path.remove_suffix(1);
  return path;
}

// The final path `object` must have: below `place`'s (`exact` false), or the final path of the
// folder that holds `path` followed by its name (`exact` true). Empty with the error when it
// cannot be had; ERROR_CANT_ACCESS_FILE when `place` is a link or no folder.
std::wstring expectedRoot(const std::wstring& path, const std::wstring& place, bool& exact,
                          std::error_code& error) {
  std::wstring folder = place;
  std::wstring name;
  exact = place.empty();
  if (exact) {
    const std::wstring_view trimmed = withoutTrailingSeparators(path);
    const std::size_t separator = trimmed.find_last_of(L"\\/");
    if (separator == std::wstring_view::npos || separator + 1 == trimmed.size()) {
      error = nv::system_failure(ERROR_INVALID_NAME);
      return {};
    }
    name = trimmed.substr(separator + 1);
    folder = trimmed.substr(0, separator + 1);  // "C:\" keeps its separator
  }
  // The place is taken as it is, never through a link of its own: a place that became a link
  // would carry everything below it elsewhere. The folder of an exact path is opened as the system
  // finds it.
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (exact ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  const nv::unique_handle opened(::CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE |
                                                   FILE_SHARE_DELETE,
                                               nullptr, OPEN_EXISTING, flags, nullptr));
  if (!opened) {
    error = nv::last_system_failure();
    return {};
  }
  const nv::file_facts facts = nv::facts_of(opened.get());
  if (facts.attributes == INVALID_FILE_ATTRIBUTES ||
      !(facts.attributes & FILE_ATTRIBUTE_DIRECTORY) || nv::is_link(facts)) {
    error = nv::system_failure(ERROR_CANT_ACCESS_FILE);
    return {};
  }
  std::wstring finalPath = FinalPathOf(opened.get(), error);
  if (finalPath.empty()) return {};
  if (!exact) return finalPath;
  finalPath.resize(withoutTrailingSeparators(finalPath).size());
  return finalPath + L"\\" + name;
}

// True when `finalPath` lies where `root` says (`exact`: is it; otherwise strictly below it),
// compared without regard to case, whole elements only.
bool liesAt(const std::wstring& root, const std::wstring& finalPath, bool exact) {
  if (!exact) return nv::is_below(root, finalPath);
  const std::wstring_view trimmed = withoutTrailingSeparators(finalPath);
  return trimmed.size() == root.size() &&
         ::CompareStringOrdinal(root.c_str(), static_cast<int>(root.size()), trimmed.data(),
                                static_cast<int>(trimmed.size()), TRUE) == CSTR_EQUAL;
}

bool setBasicInfo(HANDLE object, FILE_BASIC_INFO info) {
  return ::SetFileInformationByHandle(object, FileBasicInfo, &info, sizeof info) != FALSE;
}

}  // namespace

FinalPathQuery SetFinalPathQuery(FinalPathQuery query) {
  if (!query) query = systemFinalPath;
  return std::exchange(finalPathQuery(), std::move(query));
}

std::wstring FinalPathOf(HANDLE object, std::error_code& error) {
  error.clear();
  std::wstring path = finalPathQuery()(object, error);
  if (path.empty() && !error) error = nv::system_failure(ERROR_GEN_FAILURE);
  return path;
}

RemovalResult RemoveThroughHandle(const std::wstring& path, EntryKind kind,
                                  const std::wstring& place) {
  const nv::unique_handle object(::CreateFileW(
      path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!object) {
    const DWORD error = ::GetLastError();
    if (isMissing(error)) return {RemovalOutcome::absent, {}};
    return failure(nv::system_failure(error));
  }

  FILE_BASIC_INFO info{};
  if (!::GetFileInformationByHandleEx(object.get(), FileBasicInfo, &info, sizeof info))
    return failure(nv::last_system_failure());
  const bool link = (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  const bool folder = (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // A link to a folder is removed as the link it is, the folder it points to stays.
  if (kind == EntryKind::fileOrLink ? (folder && !link) : !folder)
    return failure(nv::system_failure(ERROR_DIRECTORY));

  bool exact = false;
  std::error_code error;
  const std::wstring root = expectedRoot(path, place, exact, error);
  if (root.empty()) {
    if (error.value() == ERROR_CANT_ACCESS_FILE) return {RemovalOutcome::elsewhere, {}};
    return failure(error);
  }
  const std::wstring finalPath = FinalPathOf(object.get(), error);
  if (finalPath.empty()) return failure(error);
  if (!liesAt(root, finalPath, exact)) return {RemovalOutcome::elsewhere, {}};

  const bool readOnly = (info.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (readOnly) {
    FILE_BASIC_INFO writable{};  // times of 0 stay as they are
    writable.FileAttributes = info.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
    if (writable.FileAttributes == 0) writable.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!setBasicInfo(object.get(), writable)) return failure(nv::last_system_failure());
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (::SetFileInformationByHandle(object.get(), FileDispositionInfo, &disposition,
                                   sizeof disposition))
    return {RemovalOutcome::removed, {}};
  const DWORD code = ::GetLastError();
  if (readOnly) {
    FILE_BASIC_INFO before{};
    before.FileAttributes = info.FileAttributes;
    setBasicInfo(object.get(), before);
  }
  if (code == ERROR_DIR_NOT_EMPTY) return {RemovalOutcome::notEmpty, {}};
  return failure(nv::system_failure(code));
}

}  // namespace engine
