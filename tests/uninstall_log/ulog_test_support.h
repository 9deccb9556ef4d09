// Shared pieces of the uninstall log tests: byte strings of expected file contents built here,
// independently of the writer, and file helpers for a private temporary folder.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "transaction/install_journal.h"
#include "nv/product_test_support.h"

namespace ulog_test {

using Bytes = std::string;

// `text` as UTF-16LE bytes, without a byte-order mark.
inline Bytes utf16le(std::wstring_view text) {
  Bytes bytes;
  for (wchar_t c : text) {
    bytes += static_cast<char>(static_cast<unsigned>(c) & 0xFF);
    bytes += static_cast<char>((static_cast<unsigned>(c) >> 8) & 0xFF);
  }
  return bytes;
}

inline const Bytes bom = "\xFF\xFE";

// `lines` each followed by CR LF, as UTF-16LE with the byte-order mark.
inline Bytes utf16_file(std::initializer_list<std::wstring> lines) {
  Bytes bytes = bom;
  for (const std::wstring& line : lines) bytes += utf16le(line + L"\r\n");
  return bytes;
}

// `text` in the thread's ANSI code page; `exact` is false when a character had no equivalent.
inline Bytes ansi(std::wstring_view text, bool* exact = nullptr) {
  if (text.empty()) return {};
  BOOL defaulted = FALSE;
  const int size = static_cast<int>(text.size());
  const int length =
      ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), size, nullptr, 0, nullptr, &defaulted);
  Bytes bytes(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), size, bytes.data(), length, nullptr,
                        &defaulted);
  if (exact) *exact = !defaulted;
  return bytes;
}

inline Bytes read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline engine::JournalRecord record(engine::RecordKind kind, std::wstring path, bool done,
                                    std::int32_t payloadKind = -1) {
  engine::JournalRecord r;
  r.kind = kind;
  r.path = std::move(path);
  r.done = done;
  r.payloadKind = payloadKind;
  return r;
}

// Removes the read-only attribute so that a test folder can be deleted.
inline void make_writable(const std::filesystem::path& path) {
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace ulog_test
