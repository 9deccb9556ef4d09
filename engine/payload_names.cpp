#include "engine/payload_names.h"

#include <iterator>
#include <system_error>

#include "engine/compress_error.h"
#include "engine/path_tokens.h"

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

void check_entry_names(const PayloadEntry& entry) {
  if (!is_plain_name(entry.sourcePath.filename().native()))
    throw std::system_error(compress_errc::unexpected, "payload file name not plain");
  const auto& destination = entry.destination;
  if (destination.empty() || !is_path_token(destination.begin()->native())) return;
  for (auto folder = std::next(destination.begin()); folder != destination.end(); ++folder) {
    // An empty last element is a trailing separator.
    if (!folder->empty() && !is_plain_name(folder->native()))
      throw std::system_error(compress_errc::unexpected, "payload folder name not plain");
  }
}

}  // namespace engine
