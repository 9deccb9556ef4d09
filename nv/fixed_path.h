// Path operations of the shell light-weight library over a buffer of 260 wide characters, the
// size in which the installer takes paths apart. Input longer than 259 characters is cut to 259
// before the operation; results are cut the same way by the library itself.
//
//   nv::fixed_path::append(L"C:\\a", L"b")          -> L"C:\\a\\b"      (PathAppendW)
//   nv::fixed_path::combine(L"C:\\a", L"..\\b")     -> L"C:\\b"         (PathCombineW)
//   nv::fixed_path::remove_file_spec(L"C:\\a\\f")   -> L"C:\\a"         (PathRemoveFileSpecW)
//   nv::fixed_path::file_name(L"C:\\a\\f.txt")      -> L"f.txt"         (PathFindFileNameW)
//   nv::fixed_path::add_backslash(L"C:\\a")         -> L"C:\\a\\"       (PathAddBackslashW)
//   nv::fixed_path::remove_backslash(L"C:\\a\\")    -> L"C:\\a"         (PathRemoveBackslashW)
#pragma once

#include <string>
#include <string_view>

namespace nv::fixed_path {

// Characters a path may have in the fixed buffer (the 260th is the terminator).
inline constexpr size_t max_length = 259;

// `path` cut to max_length characters.
std::wstring cut(std::wstring_view path);

// `base` and `more` joined with one backslash, "." and ".." resolved. Empty when the result does
// not fit.
std::wstring append(std::wstring_view base, std::wstring_view more);

// `file` relative to `directory` (or `file` itself when absolute), canonicalised. Empty when the
// result does not fit.
std::wstring combine(std::wstring_view directory, std::wstring_view file);

// `path` without its last element and the separator before it; a root stays a root.
std::wstring remove_file_spec(std::wstring_view path);

// The last element of `path` (the whole text when it has no separator).
std::wstring file_name(std::wstring_view path);

// `path` with one trailing backslash (unchanged when it has one, or when there is no room).
std::wstring add_backslash(std::wstring_view path);

// `path` without a trailing backslash, except for a root such as "C:\".
std::wstring remove_backslash(std::wstring_view path);

}  // namespace nv::fixed_path
