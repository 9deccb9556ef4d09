// The write-ahead journal file of one installation run. Before the run changes the machine, the
// record that undoes the change, with the path of its backup, is appended to this file and flushed
// to disk; only then is the change made. When the process is killed or the power fails, the next
// start reads the file back and undoes the run (interrupted_runs.h).
//
// The format, for the writer and the reader below: UTF-8 text, every line ended by LF.
//   The version line:  "Nuvelle installation journal 2"
//   Then one entry per line: the CRC-32 of the rest of the line in 8 lower-case hexadecimal digits,
//   a tab, the entry's sequence number (0, 1, 2 ... in file order), a tab, the verb and its fields,
//   separated by tabs:
//     places <install> <menu> <previous install> <previous menu> <working folder>
//                               the folders the run works in (the first entry; see RunPlaces)
//     record <kind> <payload kind> <flags> <path> <backup> <backup source>
//                               a record, appended before its change; flags "-" or letters
//                               "d" (done) and "a" (adopted); records are numbered from 0
//     end <record> <0|1> <- | p> <path>   EndOperation: the outcome, and the path when "p"
//     path <record> <path>      the file the record's operation is about to create
//     nobackup <record>         the record's backup could not be taken: it has none
//     withdraw <record>         the record's change was never made
//     commit                    the run finished: its changes stand, its backups may go
//   Text fields write a backslash, tab, CR and LF as \\, \t, \r and \n.
// An entry whose checksum or sequence number is wrong, that is not understood, or whose line has
// no LF (torn when the run was interrupted) ends the journal: the entries before it are used,
// nothing after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "transaction/install_journal.h"
#include "nv/unique_handle.h"

namespace engine {

// The version line without its LF.
inline constexpr std::string_view kJournalVersionLine = "Nuvelle installation journal 2";

// A run's journal file open for appending. Others may read it but neither write nor delete it
// while it is open: a run whose file cannot be opened that way is still alive.
class CJournalFile {
 public:
  // Creates the file `path`, which must not exist yet, and writes the version line, the run's
  // `places` and `records` (changes made before the file could exist), all flushed at once.
  std::error_code Create(const std::wstring& path, const RunPlaces& places = {},
                         const std::vector<JournalRecord>& records = {});
  bool isOpen() const noexcept { return static_cast<bool>(file_); }
  const std::wstring& path() const noexcept { return path_; }
  // How many records have been appended; the next record gets this number.
  std::size_t recordCount() const noexcept { return records_; }

  // Each appends one entry and flushes it to disk before it returns; the error of the write or
  // of the flush. `record` and the marks name a record by its number.
  std::error_code AppendRecord(const JournalRecord& record);
  std::error_code AppendEnd(std::size_t record, bool done, const wchar_t* path);
  std::error_code AppendPath(std::size_t record, const std::wstring& path);
  std::error_code AppendNoBackup(std::size_t record);
  std::error_code AppendWithdraw(std::size_t record);
  std::error_code AppendCommit();

  // Deletes the file through the open handle and closes it.
  std::error_code Delete();
  // Closes the file and leaves it where it is.
  void Close() noexcept { file_.reset(); }

 private:
  // Writes and flushes `entry`, then reports the point `step` (step_points.h).
  std::error_code Append(const std::string& entry, const char* step);

  nv::unique_handle file_;
  std::wstring path_;
  std::uint64_t sequence_ = 0;
  std::size_t records_ = 0;
};

// What a journal file says, as far as it is intact.
struct JournalReplay {
  bool known = false;      // the version line is this format's; nothing else is read otherwise
  bool committed = false;  // the run finished
  bool damaged = false;    // bytes follow the last entry used: a torn or damaged entry
  RunPlaces places;        // the folders the run named; empty members when it named none
  std::size_t entries = 0;  // entries used
  // The records in file order with their marks applied; withdrawn records are left out.
  std::vector<JournalRecord> records;
};

// Reads the bytes of a journal file, whatever they are; only memory exhaustion throws.
JournalReplay ReadJournal(std::string_view bytes);

}  // namespace engine
