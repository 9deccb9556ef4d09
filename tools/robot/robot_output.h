// What robot.exe prints and how one of its commands fails: every printed line is
// "<verb>: <value>", the value on one line with backslash, CR, LF and tab escaped; a command that
// cannot do what it was asked throws command_failed with the reason the robot prints.
#pragma once

#include <cstdio>
#include <string>
#include <utility>

#include "nv/utf8.h"

namespace robot_output {

// The text with backslash, CR, LF and tab written as escapes, so that it fits on one line.
inline std::wstring escaped(const std::wstring& text) {
  std::wstring result;
  for (wchar_t c : text) {
    switch (c) {
      case L'\\': result += L"\\\\"; break;
      case L'\r': result += L"\\r"; break;
      case L'\n': result += L"\\n"; break;
      case L'\t': result += L"\\t"; break;
      default: result += c;
    }
  }
  return result;
}

// Prints "<verb>: <value>" with the value escaped.
inline void print(const std::string& verb, const std::wstring& value) {
  const std::string line = verb + ": " + nv::to_utf8(escaped(value)) + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

class command_failed {
 public:
  explicit command_failed(std::wstring reason) : reason_(std::move(reason)) {}
  const std::wstring& reason() const noexcept { return reason_; }

 private:
  std::wstring reason_;
};

}  // namespace robot_output
