// The lines of the installer's texts as the tests read them: a log box's text or a /LOG file,
// both with CR LF line breaks.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "nv/utf8.h"

namespace text_test {

// Every piece between CR LF breaks; the piece after the last break is kept, even when empty.
inline std::vector<std::wstring> lines(const std::wstring& text) {
  std::vector<std::wstring> result;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
    result.push_back(text.substr(start, end - start));
  result.push_back(text.substr(start));
  return result;
}

// True when `line` starts with a /LOG time stamp: "YYYY-MM-DD HH:MM:SS.mmm ".
inline bool hasStamp(const std::wstring& line) {
  static constexpr std::wstring_view form = L"0000-00-00 00:00:00.000 ";
  if (line.size() < form.size()) return false;
  for (std::size_t i = 0; i < form.size(); ++i) {
    const bool digit = line[i] >= L'0' && line[i] <= L'9';
    if (form[i] == L'0' ? !digit : line[i] != form[i]) return false;
  }
  return true;
}

// /LOG lines without their time stamps; a non-empty line without one fails the test.
inline std::vector<std::wstring> withoutStamps(std::vector<std::wstring> logLines) {
  for (std::wstring& line : logLines) {
    if (line.empty()) continue;
    EXPECT_TRUE(hasStamp(line)) << "no time stamp: " << nv::to_utf8(line);
    if (hasStamp(line)) line.erase(0, 24);
  }
  return logLines;
}

// The lines of a /LOG file without their time stamps; a last line without its break is kept, an
// empty end is not.
inline std::vector<std::wstring> fileLines(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::wstring> result = withoutStamps(lines(nv::from_utf8(
      std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()))));
  if (!result.empty() && result.back().empty()) result.pop_back();
  return result;
}

// The header that opens every run in a /LOG file: the separator, then these names in this order.
inline const std::vector<std::wstring>& runHeaderNames() {
  static const std::vector<std::wstring> names = {L"Program: ", L"Command line: ", L"User: ",
                                                  L"Elevated: ", L"Windows: "};
  return names;
}

// fileLines(path) with the header of every run checked in form and taken off; a file whose runs
// do not each open with a header fails the test. The kind of run ("Run: ...") stays.
inline std::vector<std::wstring> runLines(const std::filesystem::path& path) {
  const std::vector<std::wstring> all = fileLines(path);
  const std::wstring separator(72, L'=');
  EXPECT_TRUE(!all.empty() && all.front() == separator) << "the log opens with a run's separator";
  std::vector<std::wstring> body;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i] != separator) {
      body.push_back(all[i]);
      continue;
    }
    for (const std::wstring& name : runHeaderNames()) {
      ++i;
      EXPECT_TRUE(i < all.size() && all[i].rfind(name, 0) == 0 && all[i].size() > name.size())
          << "header line " << nv::to_utf8(name) << "missing at line " << i;
    }
  }
  return body;
}

}  // namespace text_test
