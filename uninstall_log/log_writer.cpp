// Writing the uninstall log: the previous log's surviving records merged with this run's, the
// file written in UTF-16LE and protected, then the journal committed.
#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "transaction/install_journal.h"
#include "machine/same_path.h"
#include "transaction/step_points.h"
#include "nv/product.h"
#include "nv/system_failure.h"
#include "nv/unique_handle.h"
#include "uninstall_log/log_format.h"

namespace {

using engine::JournalRecord;
using engine::RecordKind;

// Whether `current` replaces the previous record `previous`: folders and files when they name
// the same file, every other kind whenever the kind is the same.
bool supersedes(const JournalRecord& current, const JournalRecord& previous) {
  if (current.kind != previous.kind) return false;
  if (previous.kind == RecordKind::CreatedFolder || previous.kind == RecordKind::InstalledFile)
    return engine::SamePath(current.path, previous.path);
  return true;
}

// Writes `text` as UTF-16LE in one WriteFile call; false when that call reports a failure.
bool write_units(HANDLE file, std::wstring_view text) {
  DWORD written = 0;
  return ::WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)),
                     &written, nullptr) != FALSE;
}

}  // namespace

namespace engine {

bool CInstallJournal::WriteUninstallLog(const std::wstring& logPath,
                                        const std::wstring& installFolder,
                                        const std::wstring& menuFolder, std::error_code* error) {
  using namespace uninstall_log;

  // Previous records are visited last to first and each survivor goes to the front, so the
  // survivors keep their order and stand before this run's records. A survivor already put in
  // front counts as a current record for the older ones.
  for (auto previous = previousRecords.rbegin(); previous != previousRecords.rend(); ++previous) {
    const bool superseded = std::any_of(records.begin(), records.end(), [&](const auto& record) {
      return supersedes(record, *previous);
    });
    if (!superseded) records.insert(records.begin(), std::move(*previous));
  }
  previousRecords.clear();

  // Every text is composed before the file is touched.
  std::wstring header =
      header_lines(nv::product_label(false), previousLabel, installFolder, menuFolder);
  const std::wstring key_text = uninstall_key_text();

  bool written = false;
  DWORD failure = 0;
  const auto noteFailure = [&failure](bool ok) {
    if (!ok && failure == 0) failure = ::GetLastError();
    return ok;
  };
  // The log of the previous installation is copied to a backup first, so that an interrupted run
  // can put it back; without the copy it is overwritten all the same, as without a run file.
  SecureFile(logPath);
  ::SetFileAttributesW(logPath.c_str(), FILE_ATTRIBUTE_NORMAL);
  nv::unique_handle file(::CreateFileW(logPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) {
    written = noteFailure(write_units(file.get(), L"\xFEFF"));
    // One write per header line.
    for (std::size_t start = 0; start < header.size();) {
      const std::size_t end = header.find(line_end, start) + line_end.size();
      written &= noteFailure(
          write_units(file.get(), std::wstring_view(header).substr(start, end - start)));
      start = end;
    }
    engine::ReachStep("install.log-header");
    for (std::size_t index = 0; index < records.size(); ++index) {
      const JournalRecord& record = records[index];
      std::wstring_view text = record.path;
      if (record.kind == RecordKind::UninstallKey) text = key_text;
      if (record.kind == RecordKind::ProductRegistration) text = product_registration_text;
      written &= noteFailure(write_units(file.get(), entry_line(index, record, text)));
    }
    file.reset();
    ::SetFileAttributesW(logPath.c_str(), written_attributes);
  } else {
    noteFailure(false);
  }

  Commit();
  if (!written && error) *error = nv::system_failure(failure != 0 ? failure : ERROR_WRITE_FAULT);
  return written;
}

}  // namespace engine
