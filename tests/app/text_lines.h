// The lines of the installer's texts as the tests read them: a log box's text or a /LOG file,
// both with CR LF line breaks.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "nv/utf8.h"

namespace app_test {

// Every piece between CR LF breaks; the piece after the last break is kept, even when empty.
inline std::vector<std::wstring> lines(const std::wstring& text) {
  std::vector<std::wstring> result;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
    result.push_back(text.substr(start, end - start));
  result.push_back(text.substr(start));
  return result;
}

// The lines of a UTF-8 file; a last line without its break is kept, an empty end is not.
inline std::vector<std::wstring> fileLines(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::wstring> result = lines(nv::from_utf8(
      std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())));
  if (result.back().empty()) result.pop_back();
  return result;
}

}  // namespace app_test
