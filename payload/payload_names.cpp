#include "payload/payload_names.h"

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <system_error>

#include "payload/compress_error.h"
#include "payload/path_tokens.h"
#include "nv/utf8.h"

namespace engine {
namespace {

wchar_t upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; }

bool same_letters(std::wstring_view text, std::wstring_view upper_case) {
  if (text.size() != upper_case.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (upper(text[i]) != upper_case[i]) return false;
  return true;
}

}  // namespace

bool is_device_name(std::wstring_view name) {
  // Windows looks at what comes before the first dot, without the blanks that end it.
  std::wstring_view stem = name.substr(0, name.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') stem.remove_suffix(1);
  for (const std::wstring_view device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
    if (same_letters(stem, device)) return true;
  if (stem.size() != 4 || !(same_letters(stem.substr(0, 3), L"COM") ||
                            same_letters(stem.substr(0, 3), L"LPT")))
    return false;
  const wchar_t digit = stem[3];
  return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
         digit == L'\u00B3';
}

bool is_plain_name(std::wstring_view name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  for (const wchar_t c : name)
    if (c < 0x20 || std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos)
      return false;
  if (name.back() == L'.' || name.back() == L' ') return false;
  return !is_device_name(name);
}

std::string entry_name_fault(const PayloadEntry& entry) {
  const std::wstring file = entry.sourcePath.filename().native();
  if (!is_plain_name(file))
    return "the file name '" + nv::to_utf8(file) + "' is not a name Windows stores as written";
  const std::wstring destination = entry.destination.native();
  if (destination.empty()) return "the destination is empty";
  const std::wstring first = entry.destination.begin()->native();
  std::size_t skip = 1;  // the token, or the drive and its root separator
  if (is_path_token(first)) {
    const auto& known = path_token_names();
    if (std::find(known.begin(), known.end(), first) == known.end()) {
      std::string list;
      for (const std::wstring& token : known) {
        if (!list.empty()) list += ' ';
        list += nv::to_utf8(token);
      }
      return "unknown path token " + nv::to_utf8(first) + " (known: " + list + ")";
    }
  } else {
    const bool drive = destination.size() >= 3 && std::iswalpha(destination[0]) &&
                       destination[1] == L':' && (destination[2] == L'\\' || destination[2] == L'/');
    if (!drive)
      return "the destination is neither below a path token nor a full path with a drive letter";
    skip = 2;
  }
  auto folder = entry.destination.begin();
  std::advance(folder, skip);
  for (; folder != entry.destination.end(); ++folder) {
    // An empty last element is a trailing separator.
    if (!folder->empty() && !is_plain_name(folder->native()))
      return "the folder '" + nv::to_utf8(folder->native()) +
             "' of the destination is not a name Windows stores as written";
  }
  return {};
}

void check_entry_names(const PayloadEntry& entry) {
  const std::string fault = entry_name_fault(entry);
  if (!fault.empty()) throw std::system_error(compress_errc::unexpected, fault);
}

}  // namespace engine
