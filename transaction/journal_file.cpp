#include "transaction/journal_file.h"

#include <windows.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

#include "transaction/step_points.h"
#include "nv/system_failure.h"
#include "nv/utf8.h"
#include "nv/crc32.h"

namespace engine {
namespace {

constexpr char kTab = '\t';
constexpr char kLineFeed = '\n';

// The kinds a record of the file may have: those of the installation's records and those that
// only the journal file holds.
bool IsKnownKind(long long kind) {
  return (kind >= static_cast<long long>(RecordKind::CreatedFolder) &&
          kind <= static_cast<long long>(RecordKind::DirectXUpdate)) ||
         (kind >= static_cast<long long>(RecordKind::WorkingFolder) &&
          kind <= static_cast<long long>(RecordKind::PendingDeletions));
}

std::string Escaped(std::wstring_view text) {
  const std::string utf8 = nv::to_utf8(text);
  std::string out;
  out.reserve(utf8.size());
  for (const char c : utf8) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out;
}

std::optional<std::wstring> Unescaped(std::string_view field) {
  std::string utf8;
  utf8.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      utf8 += field[i];
      continue;
    }
    if (++i == field.size()) return std::nullopt;
    switch (field[i]) {
      case '\\': utf8 += '\\'; break;
      case 't': utf8 += '\t'; break;
      case 'r': utf8 += '\r'; break;
      case 'n': utf8 += '\n'; break;
      default: return std::nullopt;
    }
  }
  // Text that is not UTF-8 was never written by the writer.
  if (!utf8.empty() && ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                             static_cast<int>(utf8.size()), nullptr, 0) <= 0)
    return std::nullopt;
  return nv::from_utf8(utf8);
}

// A decimal number that is the whole field: digits only, an optional leading minus.
std::optional<long long> Number(std::string_view field) {
  long long value = 0;
  if (field.empty() || field.front() == '+') return std::nullopt;
  const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
  if (error != std::errc() || end != field.data() + field.size()) return std::nullopt;
  return value;
}

std::vector<std::string_view> Fields(std::string_view text) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const std::size_t tab = text.find(kTab, start);
    fields.push_back(text.substr(start, tab == std::string_view::npos ? text.npos : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

std::string Hex8(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

// One entry line: checksum, tab, the sequence number, the verb and the fields, LF.
std::string EntryLine(std::uint64_t sequence, std::string_view verb,
                      std::initializer_list<std::string> fields) {
  std::string body = std::to_string(sequence);
  body += kTab;
  body += verb;
  for (const std::string& field : fields) {
    body += kTab;
    body += field;
  }
  return Hex8(nv::crc32::of(body.data(), body.size())) + kTab + body + kLineFeed;
}

std::string Flags(const JournalRecord& record) {
  std::string flags;
  if (record.done) flags += 'd';
  if (record.adopted) flags += 'a';
  return flags.empty() ? "-" : flags;
}

std::string RecordLine(std::uint64_t sequence, const JournalRecord& record) {
  return EntryLine(sequence, "record",
                   {std::to_string(static_cast<std::int32_t>(record.kind)),
                    std::to_string(record.payloadKind), Flags(record), Escaped(record.path),
                    Escaped(record.backupPath), Escaped(record.backupSource)});
}

// The records of a journal as they are read: every record by its number, and whether a later
// mark withdrew it.
struct ReadRecords {
  std::vector<JournalRecord> all;
  std::vector<bool> withdrawn;

  // The record a mark names, or null when the mark names none that stands.
  JournalRecord* named(std::string_view field) {
    const std::optional<long long> number = Number(field);
    if (!number || *number < 0 || static_cast<std::size_t>(*number) >= all.size() ||
        withdrawn[static_cast<std::size_t>(*number)])
      return nullptr;
    return &all[static_cast<std::size_t>(*number)];
  }
};

// Applies one entry (the verb and its fields) to `read`; false when the entry is not one the
// writer makes.
bool Apply(const std::vector<std::string_view>& fields, ReadRecords& read, bool& committed,
           RunPlaces& places) {
  const std::string_view verb = fields[0];
  if (verb == "places" && fields.size() == 6 && read.all.empty()) {
    std::wstring* const targets[] = {&places.installFolder, &places.menuFolder,
                                     &places.previousInstallFolder, &places.previousMenuFolder,
                                     &places.workingFolder};
    for (std::size_t i = 0; i < 5; ++i) {
      const auto text = Unescaped(fields[i + 1]);
      if (!text) return false;
      *targets[i] = *text;
    }
    return true;
  }
  if (verb == "record" && fields.size() == 7) {
    const std::optional<long long> kind = Number(fields[1]);
    const std::optional<long long> payloadKind = Number(fields[2]);
    const std::string_view flags = fields[3];
    const auto path = Unescaped(fields[4]);
    const auto backup = Unescaped(fields[5]);
    const auto source = Unescaped(fields[6]);
    if (!kind || !IsKnownKind(*kind) || !payloadKind || *payloadKind < -1 || *payloadKind > 255 ||
        !path || !backup || !source)
      return false;
    if (flags != "-" && (flags.empty() || flags.find_first_not_of("da") != std::string_view::npos))
      return false;
    JournalRecord& added = read.all.emplace_back();
    read.withdrawn.push_back(false);
    added.kind = static_cast<RecordKind>(*kind);
    added.payloadKind = static_cast<std::int32_t>(*payloadKind);
    added.done = flags.find('d') != std::string_view::npos;
    added.adopted = flags.find('a') != std::string_view::npos;
    added.path = *path;
    added.backupPath = *backup;
    added.backupSource = *source;
    return true;
  }
  if (verb == "end" && fields.size() == 5) {
    JournalRecord* target = read.named(fields[1]);
    const auto path = Unescaped(fields[4]);
    if (!target || (fields[2] != "0" && fields[2] != "1") ||
        (fields[3] != "-" && fields[3] != "p") || !path)
      return false;
    target->done = fields[2] == "1";
    if (fields[3] == "p") target->path = *path;
    return true;
  }
  if (verb == "path" && fields.size() == 3) {
    JournalRecord* target = read.named(fields[1]);
    const auto path = Unescaped(fields[2]);
    if (!target || !path) return false;
    target->path = *path;
    return true;
  }
  if ((verb == "nobackup" || verb == "withdraw") && fields.size() == 2) {
    JournalRecord* target = read.named(fields[1]);
    if (!target) return false;
    if (verb == "nobackup")
      target->backupPath.clear();
    else
      read.withdrawn[static_cast<std::size_t>(target - read.all.data())] = true;
    return true;
  }
  if (verb == "commit" && fields.size() == 1) {
    committed = true;
    return true;
  }
  return false;
}

}  // namespace

std::error_code CJournalFile::Create(const std::wstring& path, const RunPlaces& places,
                                     const std::vector<JournalRecord>& records) {
  file_.reset(::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return nv::last_system_failure();
  path_ = path;
  sequence_ = 0;
  records_ = 0;
  std::string lines(kJournalVersionLine);
  lines += kLineFeed;
  lines += EntryLine(sequence_++, "places",
                     {Escaped(places.installFolder), Escaped(places.menuFolder),
                      Escaped(places.previousInstallFolder), Escaped(places.previousMenuFolder),
                      Escaped(places.workingFolder)});
  for (const JournalRecord& record : records) {
    lines += RecordLine(sequence_++, record);
    ++records_;
  }
  if (const std::error_code error = Append(lines, "journal.version")) {
    Delete();
    return error;
  }
  return {};
}

std::error_code CJournalFile::Append(const std::string& entry, const char* step) {
  if (!file_) return {ERROR_INVALID_HANDLE, std::system_category()};
  DWORD written = 0;
  if (!::WriteFile(file_.get(), entry.data(), static_cast<DWORD>(entry.size()), &written, nullptr))
    return nv::last_system_failure();
  if (written != entry.size()) return {ERROR_WRITE_FAULT, std::system_category()};
  if (!::FlushFileBuffers(file_.get())) return nv::last_system_failure();
  // The entry is on disk and its change not yet made.
  ReachStep(step);
  return {};
}

std::error_code CJournalFile::AppendRecord(const JournalRecord& record) {
  const std::error_code error = Append(RecordLine(sequence_, record), "journal.record");
  // A record whose line was not completely written still takes its number: the reader stops at
  // that line, and a later mark must never name the wrong record.
  ++sequence_;
  ++records_;
  return error;
}

std::error_code CJournalFile::AppendEnd(std::size_t record, bool done, const wchar_t* path) {
  return Append(EntryLine(sequence_++, "end",
                          {std::to_string(record), done ? "1" : "0", path ? "p" : "-",
                           path ? Escaped(path) : std::string()}),
                "journal.end");
}

std::error_code CJournalFile::AppendPath(std::size_t record, const std::wstring& path) {
  return Append(EntryLine(sequence_++, "path", {std::to_string(record), Escaped(path)}),
                "journal.path");
}

std::error_code CJournalFile::AppendNoBackup(std::size_t record) {
  return Append(EntryLine(sequence_++, "nobackup", {std::to_string(record)}), "journal.nobackup");
}

std::error_code CJournalFile::AppendWithdraw(std::size_t record) {
  return Append(EntryLine(sequence_++, "withdraw", {std::to_string(record)}), "journal.withdraw");
}

std::error_code CJournalFile::AppendCommit() {
  return Append(EntryLine(sequence_++, "commit", {}), "journal.commit");
}

std::error_code CJournalFile::Delete() {
  if (!file_) return {};
  FILE_DISPOSITION_INFO disposition{TRUE};
  std::error_code error;
  if (!::SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposition,
                                    sizeof disposition))
    error = nv::last_system_failure();
  file_.reset();
  // Without the disposition the file is deleted by name, now that nobody holds it.
  if (error && ::DeleteFileW(path_.c_str())) error.clear();
  return error;
}

JournalReplay ReadJournal(std::string_view bytes) {
  JournalReplay replay;
  std::size_t lineEnd = bytes.find(kLineFeed);
  if (lineEnd == std::string_view::npos || bytes.substr(0, lineEnd) != kJournalVersionLine)
    return replay;
  replay.known = true;
  ReadRecords read;
  std::size_t start = lineEnd + 1;
  for (std::uint64_t sequence = 0; start < bytes.size(); ++sequence) {
    lineEnd = bytes.find(kLineFeed, start);
    if (lineEnd == std::string_view::npos) break;  // torn: the interruption cut this entry
    const std::string_view line = bytes.substr(start, lineEnd - start);
    if (line.size() < 10 || line[8] != kTab) break;
    const std::string_view body = line.substr(9);
    std::uint32_t checksum = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + 8, checksum, 16);
    if (error != std::errc() || end != line.data() + 8 ||
        line.substr(0, 8) != Hex8(checksum) || nv::crc32::of(body.data(), body.size()) != checksum)
      break;
    const std::vector<std::string_view> fields = Fields(body);
    const std::optional<long long> number = Number(fields[0]);
    if (!number || static_cast<std::uint64_t>(*number) != sequence || fields.size() < 2) break;
    if (!Apply(std::vector<std::string_view>(fields.begin() + 1, fields.end()), read,
               replay.committed, replay.places))
      break;
    ++replay.entries;
    start = lineEnd + 1;
  }
  replay.damaged = start < bytes.size();
  for (std::size_t i = 0; i < read.all.size(); ++i)
    if (!read.withdrawn[i]) replay.records.push_back(std::move(read.all[i]));
  return replay;
}

}  // namespace engine
