// The path rules of the folder picker, apart from any window: how a suggested sub-folder is
// cleaned, appended to a picked folder and taken off again, and how a typed path is made absolute
// inside the base folder that browsing is confined to. The picker and the wizard's pages use
// them; tests call them directly.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

// The pure path rules of the picker, exposed for tests and for the pages.
namespace folder_picker_rules {

// Number of trailing components by which `path` ends with `suffix` (case-insensitive, trailing
// backslashes ignored): the component count of `suffix` when all of them match before `path` is
// down to its last component, otherwise 0.
size_t trailingMatch(std::wstring_view path, std::wstring_view suffix);

// Number of components of a relative path ("a\b" has 2, "" has 0).
size_t componentCount(std::wstring_view path);

// The suggested sub-folder as the picker uses it: empty when any character is invalid in a path
// or a wildcard; otherwise without trailing dots.
std::wstring sanitizeSubFolder(std::wstring_view subFolder);

// `selection` with only the part of `subFolder` it does not already end with appended. Unchanged
// when the result would not fit in 260 characters or `subFolder` is empty.
std::wstring appendSubFolder(std::wstring_view selection, std::wstring_view subFolder);

// `selection` without the trailing components of `subFolder` when it ends with all of them.
std::wstring chosenFolder(std::wstring_view selection, std::wstring_view subFolder);

// `path` relative to the folder `base` (both taken as folders), canonicalised without a leading
// ".\"; "." gives the empty path. Nothing when no relative path can be made.
std::optional<std::wstring> relativeTo(std::wstring_view base, std::wstring_view path);

// Turns the text typed into the browser into an absolute folder, taking relative text relative to
// `baseFolder` (when not empty) and requiring the result to lie inside it. Errors: 0x800700CE
// (system category) for a text of 260 characters or more, 161 for invalid or wildcard characters
// or a path outside the base folder, the system's last error for a failed directory change.
std::wstring qualifyTypedPath(std::wstring_view typed, std::wstring_view baseFolder,
                              std::error_code& error);

}  // namespace folder_picker_rules
