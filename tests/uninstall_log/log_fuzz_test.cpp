// Damaged logs: seeded mutations of a valid log (truncation, random bytes, odd byte counts, a
// missing byte-order mark, over-long lines, bad codes and done digits, other versions). The
// reader must not fail and must keep exactly the lines before the first bad one, as a separate
// model of the format, built here from whole-file splitting and regular expressions, predicts.
#include <windows.h>
#include <shlwapi.h>

#include <filesystem>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "transaction/install_journal.h"
#include "nv/product.h"
#include "ulog_test_support.h"

namespace {

using engine::CInstallJournal;
using engine::JournalRecord;
using engine::RecordKind;
using ulog_test::Bytes;

constexpr size_t kLineBytes = 1024;
const wchar_t kSpace[] = L" \t\n\v\f\r";

std::wstring trimmed_right(std::wstring text) {
  const size_t last = text.find_last_not_of(kSpace);
  text.erase(last == std::wstring::npos ? 0 : last + 1);
  return text;
}

std::wstring trimmed(std::wstring text) {
  text = trimmed_right(std::move(text));
  return text.substr(std::min(text.size(), text.find_first_not_of(kSpace)));
}

// The lines the reader may process, in order; the list ends before a damaged line.
std::vector<std::wstring> readable_lines(const Bytes& bytes) {
  std::vector<std::wstring> lines;
  if (bytes.size() >= 2 && bytes.compare(0, 2, ulog_test::bom) == 0) {
    std::wstring all;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      all += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                  (static_cast<unsigned char>(bytes[i + 1]) << 8));
    const bool dangling = (bytes.size() - 2) % 2 != 0;
    for (size_t start = 0; start < all.size();) {
      const size_t lf = all.find(L'\n', start);
      const size_t end = lf == std::wstring::npos ? all.size() : lf + 1;
      const std::wstring line = all.substr(start, end - start);
      if (line.size() * 2 > kLineBytes || line.find(L'\0') != std::wstring::npos) return lines;
      if (dangling && lf == std::wstring::npos) return lines;  // ends in half a code unit
      lines.push_back(line);
      start = end;
    }
    return lines;
  }
  for (size_t start = 0; start < bytes.size();) {
    const size_t lf = bytes.find('\n', start);
    const size_t end = lf == Bytes::npos ? bytes.size() : lf + 1;
    const Bytes line = bytes.substr(start, end - start);
    if (line.size() > kLineBytes || line.find('\0') != Bytes::npos) return lines;
    std::wstring wide(line.size() * 2, L'\0');
    const int length = ::MultiByteToWideChar(CP_THREAD_ACP, MB_PRECOMPOSED, line.data(),
                                             static_cast<int>(line.size()), wide.data(),
                                             static_cast<int>(wide.size()));
    if (length <= 0) return lines;
    wide.resize(static_cast<size_t>(length));
    lines.push_back(wide);
    start = end;
  }
  return lines;
}

// What reading `bytes` must leave in the journal.
CInstallJournal expected_reading(const Bytes& bytes) {
  static const std::wregex entry(
      LR"(^[ \t\n\v\f\r]*[0-9]+[ \t\n\v\f\r]*:[ \t\n\v\f\r]*([0-9A-Fa-f]+)[ \t\n\v\f\r]*:)"
      LR"([ \t\n\v\f\r]*([01])[ \t\n\v\f\r]*--)");
  static const std::wregex version(LR"(^[ \t\n\v\f\r]*([0-9]+))");
  CInstallJournal journal;
  bool version_one = false;
  const std::vector<std::wstring> lines = readable_lines(bytes);
  for (size_t position = 0; position < lines.size(); ++position) {
    const std::wstring line = trimmed_right(lines[position]);
    if (line.rfind(L"//", 0) == 0) {
      std::wstring text = line.substr(std::min(line.size(), line.find_first_not_of(L'/')));
      text = text.substr(std::min(text.size(), text.find_first_not_of(kSpace)));
      auto without = [&](const std::wstring& marker, std::wstring& rest) {
        const size_t at = text.find(marker);
        if (at == std::wstring::npos) return false;
        rest = text.substr(0, at) + text.substr(at + marker.size());
        return true;
      };
      std::wstring rest;
      if (position == 0) {
        std::wsmatch m;
        version_one = without(L"Uninstall Log File v", rest) &&
                      std::regex_search(rest, m, version) &&
                      m[1].str().substr(m[1].str().find_first_not_of(L'0') == std::wstring::npos
                                            ? m[1].length()
                                            : m[1].str().find_first_not_of(L'0')) == L"1";
        if (!version_one) break;
      } else if (position == 2) {
        if (!without(L"Install", rest)) break;
        journal.previousLabel = trimmed(rest.substr(0, rest.find(L"--")));
      } else if (position == 3 || position == 4) {
        text += L' ';
        if (!without(position == 3 ? L"Install Path : " : L"Shortcut Path : ", rest)) break;
        rest = trimmed(rest);
        if (!rest.empty() && ::PathIsDirectoryW(rest.c_str()))
          (position == 3 ? journal.previousInstallFolder : journal.previousMenuFolder) = rest;
      }
      continue;
    }
    std::wsmatch m;
    if (!version_one || !std::regex_search(line, m, entry)) break;
    std::wstring tail = m.suffix().str();
    if (!tail.empty() && std::wstring(kSpace).find(tail[0]) == std::wstring::npos) break;
    const std::wstring code = m[1].str().substr(std::min(m[1].str().size(),
                                                         m[1].str().find_first_not_of(L'0')));
    if (code.size() > 3 || (!code.empty() && std::stoul(code, nullptr, 16) > 0x7FF)) break;
    const unsigned value = code.empty() ? 0 : std::stoul(code, nullptr, 16);
    JournalRecord record;
    record.kind = static_cast<RecordKind>(value >> 8);
    record.payloadKind = (value & 0xFF) == 0xFF ? -1 : static_cast<int>(value & 0xFF);
    record.done = m[2].str() == L"1";
    if (record.kind != RecordKind::UninstallKey && record.kind != RecordKind::ProductRegistration)
      record.path = tail.substr(std::min(tail.size(), tail.find_first_not_of(kSpace)));
    journal.previousRecords.push_back(record);
  }
  return journal;
}

// A valid log's lines (without line ends) naming `folder` as the installation folder.
std::vector<std::wstring> base_lines(const std::wstring& folder, bool wide, std::mt19937& rng) {
  const std::wstring special = wide ? L"\u040A\u0A0A" : L"plain";
  std::vector<std::wstring> lines = {
      L"// Uninstall Log File v1",
      L"// ############ WARNING: Do not delete or modify this file. ############",
      L"// Install Tessaline 7.08v -- Update (Tessaline 7.08u)",
      L"// Install Path : " + folder,
      L"// Shortcut Path : C:\\missing menu",
      L"// " + std::wstring(31, L'-'),
  };
  const size_t count = 3 + rng() % 20;
  for (size_t i = 0; i < count; ++i) {
    const unsigned kind = rng() % 8;
    const unsigned low = kind == 1 ? rng() % 5 : 0xFF;
    wchar_t code[16];
    swprintf(code, 16, L"%04x", kind * 256 + low);
    wchar_t index[16];
    swprintf(index, 16, L"%04u", static_cast<unsigned>(i));
    lines.push_back(std::wstring(index) + L":" + code + L":" + (rng() % 2 ? L"1" : L"0") +
                    L" -- C:\\Apps\\" + special + L"\\file" + std::to_wstring(i));
  }
  return lines;
}

Bytes encode(const std::vector<std::wstring>& lines, bool wide) {
  std::wstring text;
  for (const std::wstring& line : lines) text += line + L"\r\n";
  return wide ? ulog_test::bom + ulog_test::utf16le(text) : ulog_test::ansi(text);
}

// One damaged log for `seed`.
Bytes damaged_log(unsigned seed, const std::wstring& folder) {
  std::mt19937 rng(seed);
  const bool wide = rng() % 4 != 0;
  std::vector<std::wstring> lines = base_lines(folder, wide, rng);
  const size_t target = rng() % lines.size();
  const size_t entry = 6 + rng() % (lines.size() - 6);
  auto any_byte = [&] { return static_cast<char>(rng() % 256); };
  switch (seed % 10) {
    case 0: {  // truncated anywhere
      const Bytes bytes = encode(lines, wide);
      return bytes.substr(0, rng() % bytes.size());
    }
    case 1: {  // random bytes overwritten
      Bytes bytes = encode(lines, wide);
      for (unsigned n = 1 + rng() % 6; n > 0; --n) bytes[rng() % bytes.size()] = any_byte();
      return bytes;
    }
    case 2: {  // random bytes inserted, possibly an odd count
      Bytes bytes = encode(lines, wide);
      Bytes noise;
      for (unsigned n = 1 + rng() % 7; n > 0; --n) noise += any_byte();
      bytes.insert(rng() % bytes.size(), noise);
      return bytes;
    }
    case 3: {  // no byte-order mark before UTF-16 text, or a file of pure noise
      if (rng() % 2) return encode(lines, wide).substr(wide ? 2 : 0);
      Bytes noise;
      for (unsigned n = rng() % 3000; n > 0; --n) noise += any_byte();
      return rng() % 2 ? ulog_test::bom + noise : noise;
    }
    case 4:  // an over-long line
      lines[target] += std::wstring(200 + rng() % 1200, L'x');
      return encode(lines, wide);
    case 5: {  // a bad code
      static const wchar_t* const codes[] = {L"0800", L"zz", L"", L"-001", L"1ffffffff",
                                             L"0x101", L"ffff", L"07ff ff", L"0\u00a0101"};
      const std::wstring& line = lines[entry];
      lines[entry] = line.substr(0, 5) + codes[rng() % std::size(codes)] + line.substr(9);
      return encode(lines, wide);
    }
    case 6:  // a done digit other than 0 or 1
      lines[entry][10] = static_cast<wchar_t>(L"23456789x -"[rng() % 11]);
      return encode(lines, wide);
    case 7: {  // another version, or a damaged version line
      static const wchar_t* const first[] = {L"// Uninstall Log File v2", L"// Uninstall Log File v",
                                             L"// Uninstall Log File v10", L"// Uninstall Log",
                                             L"Uninstall Log File v1", L"// Uninstall Log File v 1"};
      lines[0] = first[rng() % std::size(first)];
      return encode(lines, wide);
    }
    case 8: {  // odd byte count at the end
      Bytes bytes = encode(lines, wide);
      if (rng() % 2) bytes.pop_back(); else bytes += any_byte();
      return bytes;
    }
    default: {  // lines dropped, swapped or emptied
      const size_t other = rng() % lines.size();
      switch (rng() % 3) {
        case 0: lines.erase(lines.begin() + static_cast<long>(target)); break;
        case 1: std::swap(lines[target], lines[other]); break;
        default: lines[target].clear(); break;
      }
      return encode(lines, wide);
    }
  }
}

TEST(LogReaderDamage, SeededDamagedLogsKeepExactlyThePrefixBeforeTheFirstBadLine) {
  nv::set_current_product(nv::tessaline_7);
  nv_test::temp_folder folder;
  const std::filesystem::path log = folder.path() / L"Uninstall.ulog";
  size_t some_records_kept = 0;
  size_t all_lost = 0;
  for (unsigned seed = 0; seed < 1200; ++seed) {
    const Bytes bytes = damaged_log(seed, folder.path().native());
    ulog_test::write_bytes(log, bytes);
    CInstallJournal journal;
    journal.ReadUninstallLog(log.c_str());
    const CInstallJournal expected = expected_reading(bytes);

    SCOPED_TRACE("seed " + std::to_string(seed));
    EXPECT_EQ(journal.previousLabel, expected.previousLabel);
    EXPECT_EQ(journal.previousInstallFolder, expected.previousInstallFolder);
    EXPECT_EQ(journal.previousMenuFolder, expected.previousMenuFolder);
    ASSERT_EQ(journal.previousRecords.size(), expected.previousRecords.size());
    for (size_t i = 0; i < journal.previousRecords.size(); ++i) {
      const JournalRecord& a = journal.previousRecords[i];
      const JournalRecord& b = expected.previousRecords[i];
      EXPECT_TRUE(a.kind == b.kind && a.payloadKind == b.payloadKind && a.done == b.done &&
                  a.path == b.path)
          << "record " << i;
    }
    (expected.previousRecords.empty() ? all_lost : some_records_kept) += 1;
  }
  // The mutations must exercise both outcomes, not only one of them.
  EXPECT_GT(some_records_kept, 300u);
  EXPECT_GT(all_lost, 100u);
}

}  // namespace
