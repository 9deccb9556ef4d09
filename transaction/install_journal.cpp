#include "transaction/install_journal.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <exception>
#include <string>

#include "transaction/file_backup.h"
#include "transaction/journal_file.h"
#include "transaction/journal_folder.h"
#include "transaction/journal_undo.h"
#include "machine/machine_folders.h"
#include "machine/product_keys.h"
#include "transaction/registry_key_backup.h"
#include "transaction/pending_deletions.h"
#include "transaction/registry_value_backup.h"
#include "transaction/removal_places.h"
#include "nv/fixed_path.h"
#include "nv/link_check.h"
#include "nv/system_failure.h"
#include "nv/unique_handle.h"

namespace engine {
namespace {

RecordKind ShortcutKind(int which) {
  switch (which) {
    case 0: return RecordKind::MenuShortcut;
    case 1: return RecordKind::UninstallShortcut;
    default: return RecordKind::DesktopShortcut;
  }
}

bool IsExistingFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// True when `path` names a shell link file: its extension is ".lnk" in any letter case.
bool IsShortcutFile(const std::wstring& path) {
  const wchar_t* extension = ::PathFindExtensionW(path.c_str());
  return ::CompareStringOrdinal(extension, -1, L".lnk", -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

CInstallJournal::CInstallJournal() = default;
CInstallJournal::~CInstallJournal() = default;
CInstallJournal::CInstallJournal(CInstallJournal&&) noexcept = default;
CInstallJournal& CInstallJournal::operator=(CInstallJournal&&) noexcept = default;

void CInstallJournal::Note(const std::error_code& error) {
  if (error && !runFileError_) runFileError_ = error;
}

std::optional<std::size_t> CInstallJournal::Ahead(const JournalRecord& record) {
  if (!runFile_) return std::nullopt;
  const std::size_t number = runFile_->recordCount();
  if (const std::error_code error = runFile_->AppendRecord(record)) {
    Note(error);
    return std::nullopt;
  }
  return number;
}

bool CInstallJournal::Unrecorded(const std::optional<std::size_t>& number) const {
  return runFile_ && !number;
}

std::error_code CInstallJournal::AheadWithBackup(JournalRecord& record, bool keepSource,
                                                 std::optional<std::size_t>& number) {
  const bool existing = IsExistingFile(record.path);
  std::error_code error;
  if (existing) {
    record.backupPath = BackupName(error);
    if (record.backupPath.empty()) return error;
  }
  number = Ahead(record);
  if (Unrecorded(number)) return runFileError_;
  if (existing && (error = TakeBackup(record.path, record.backupPath, keepSource))) {
    if (number) Note(runFile_->AppendWithdraw(*number));
    return error;
  }
  return {};
}

std::error_code CInstallJournal::BeginFile(const std::wstring& path, std::int32_t payloadKind,
                                           bool keepSource) {
  // A change the run file could not announce could not be undone after an interruption.
  if (runFile_ && runFileError_) return runFileError_;
  const size_t separator = path.find_last_of(L"\\/");
  if (separator != std::wstring::npos) EnsureFolders(path.substr(0, separator));
  JournalRecord record;
  record.kind = RecordKind::InstalledFile;
  record.path = path;
  record.payloadKind = payloadKind;
  std::optional<std::size_t> number;
  // Overwriting a file that could not be secured would make a rollback lose it.
  if (const std::error_code error = AheadWithBackup(record, keepSource, number)) return error;
  operationOpen = true;
  operationRecord_ = number;
  records.push_back(std::move(record));
  return {};
}

void CInstallJournal::AdoptFile(const std::wstring& path, std::int32_t payloadKind) {
  JournalRecord record;
  record.kind = RecordKind::InstalledFile;
  record.path = path;
  record.payloadKind = payloadKind;
  record.adopted = true;
  record.done = true;
  // The copy is a courtesy: the file is never changed, so nothing depends on it.
  std::error_code error;
  record.backupPath = BackupName(error);
  const std::optional<std::size_t> number = Ahead(record);
  if (!record.backupPath.empty() && TakeBackup(path, record.backupPath, true)) {
    record.backupPath.clear();
    if (number) Note(runFile_->AppendNoBackup(*number));
  }
  records.push_back(std::move(record));
}

void CInstallJournal::BeginShortcut(int which, const std::wstring& folder) {
  operationOpen = true;
  EnsureFolders(folder);
  JournalRecord record;
  record.kind = ShortcutKind(which);
  const RecordKind kind = record.kind;
  const auto previous = std::find_if(previousRecords.begin(), previousRecords.end(),
                                     [kind](const JournalRecord& r) { return r.kind == kind; });
  // The previous log is a file on disk: a record naming anything but a link in the previous
  // installation's Start-menu folder or on a desktop is not taken away (the places the
  // uninstaller would remove it from).
  const bool backup = previous != previousRecords.end() && IsShortcutFile(previous->path) &&
                      IsExistingFile(previous->path) && !refuse_links(previous->path) &&
                      judgePath(placesFor(previousInstallFolder, previousMenuFolder,
                                          previousInstallFolder, machineFolders())
                                    .places,
                                kind, -1, previous->path) == PathVerdict::allowed;
  if (backup) {
    std::error_code error;
    record.backupPath = BackupName(error);
    if (!record.backupPath.empty()) record.backupSource = previous->path;
  }
  const std::optional<std::size_t> number = Ahead(record);
  operationRecord_ = number;
  if (!record.backupPath.empty() && TakeBackup(record.backupSource, record.backupPath, false)) {
    record.backupPath.clear();
    record.backupSource.clear();
    if (number) Note(runFile_->AppendNoBackup(*number));
  }
  records.push_back(std::move(record));
}

void CInstallJournal::BeginUninstallKey(HKEY existingKey) {
  operationOpen = true;
  JournalRecord record;
  record.kind = RecordKind::UninstallKey;
  if (existingKey) {
    // With a run file the key's state goes beside it, so that an interrupted run can be undone by
    // whoever starts next, whatever their temporary folder.
    record.backupPath = runFile_ ? BesideRunFile(L".key") : MakeBackup(nullptr, false);
  }
  const std::optional<std::size_t> number = Ahead(record);
  operationRecord_ = number;
  records.push_back(record);
  if (!existingKey || record.backupPath.empty()) return;
  // Flushed to disk before anything in the key changes.
  if (SaveKeyState(existingKey, record.backupPath)) {
    DiscardBackup(records.back());
    if (number) Note(runFile_->AppendNoBackup(*number));
  }
}

void CInstallJournal::BeginProductRegistration() {
  operationOpen = true;
  operationRecord_ = Append(RecordKind::ProductRegistration);
}

void CInstallJournal::BeginDirectXUpdate() {
  operationOpen = true;
  operationRecord_ = Append(RecordKind::DirectXUpdate);
}

std::optional<std::size_t> CInstallJournal::Append(RecordKind kind) {
  JournalRecord& record = records.emplace_back();
  record.kind = kind;
  return Ahead(record);
}

void CInstallJournal::EndOperation(bool outcome, const wchar_t* path) {
  if (!operationOpen || records.empty()) return;
  operationOpen = false;
  JournalRecord& record = records.back();
  record.done = outcome;
  if (path) record.path = path;
  if (runFile_ && operationRecord_) Note(runFile_->AppendEnd(*operationRecord_, outcome, path));
}

void CInstallJournal::PlanPath(const std::wstring& path) {
  if (operationOpen && runFile_ && operationRecord_)
    Note(runFile_->AppendPath(*operationRecord_, path));
}

void CInstallJournal::EnsureFolders(const std::wstring& folderPath) {
  // A path the fixed buffer would cut names some other folder: create nothing and let the
  // following write fail in its own step.
  if (folderPath.empty() || folderPath.size() > nv::fixed_path::max_length) return;
  wchar_t buffer[MAX_PATH] = {};
  folderPath.copy(buffer, folderPath.size());
  // The first element (the drive or share) is never created.
  const wchar_t* element = ::PathFindNextComponentW(buffer);
  while (element && *element) {
    const wchar_t* next = ::PathFindNextComponentW(element);
    if (!next) break;
    std::wstring candidate(buffer, static_cast<size_t>(next - buffer));
    while (!candidate.empty() && (candidate.back() == L'\\' || candidate.back() == L'/'))
      candidate.pop_back();
    element = next;
    if (::PathIsDirectoryW(candidate.c_str()) != FALSE) continue;
    JournalRecord record;
    record.kind = RecordKind::CreatedFolder;
    record.path = std::move(candidate);
    record.done = true;
    const std::optional<std::size_t> number = Ahead(record);
    if (Unrecorded(number)) return;
    if (!::CreateDirectoryW(record.path.c_str(), nullptr)) {
      if (number) Note(runFile_->AppendWithdraw(*number));
      return;
    }
    ::SHChangeNotify(SHCNE_MKDIR, SHCNF_PATHW, record.path.c_str(), nullptr);
    records.push_back(std::move(record));
  }
}

bool CInstallJournal::WasInstalledBefore(const std::wstring& path) const {
  return std::any_of(previousRecords.begin(), previousRecords.end(), [&](const JournalRecord& r) {
    return r.kind == RecordKind::InstalledFile && r.done && r.path == path;
  });
}

void CInstallJournal::Rollback() {
  // Newest first: the records written ahead only are undone in their place among the others.
  std::size_t ahead = aheadRecords_.size();
  for (std::size_t i = records.size() + 1; i-- > 0;) {
    while (ahead > 0 && aheadRecords_[ahead - 1].first >= i)
      UndoRecord(aheadRecords_[--ahead].second);
    if (i == 0) break;
    UndoRecord(records[i - 1]);
  }
  records.clear();
  aheadRecords_.clear();
  operationOpen = false;
  if (runFile_) runEnded_ = true;
}

void CInstallJournal::Commit() {
  if (runFile_) {
    // From the mark on, an interruption leaves the installation as it stands.
    Note(runFile_->AppendCommit());
    runEnded_ = true;
  }
  for (JournalRecord& record : records) DiscardBackup(record);
  for (auto& [position, record] : aheadRecords_) DiscardBackup(record);
}

std::error_code CInstallJournal::OpenRunFile(const RunPlaces& places) {
  if (runFile_) CloseRunFile();
  const std::wstring folder = JournalFolderPath();
  if (folder.empty()) return nv::system_failure(ERROR_PATH_NOT_FOUND);
  auto file = std::make_unique<CJournalFile>();
  std::error_code error;
  // A second attempt when another process removed the folder, empty, in between.
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::wstring name;
    error = PrepareJournalFolder(folder, true);
    if (!error) error = NewRunName(name);
    if (!error) error = file->Create(folder + L"\\" + name + kJournalExtension, places, records);
    if (error.value() != ERROR_PATH_NOT_FOUND) break;
  }
  if (error) {
    RemoveJournalFolder(folder);
    return error;
  }
  runFile_ = std::move(file);
  runFileError_.clear();
  runEnded_ = false;
  aheadRecords_.clear();
  return {};
}

void CInstallJournal::CloseRunFile() {
  if (!runFile_) return;
  if (runEnded_) {
    runFile_->Delete();
    RemoveJournalFolder(JournalFolderPath());
  } else {
    runFile_->Close();
  }
  runFile_.reset();
  runFileError_.clear();
  operationRecord_.reset();
  aheadRecords_.clear();
  runEnded_ = false;
}

std::wstring CInstallJournal::runFilePath() const {
  return runFile_ ? runFile_->path() : std::wstring();
}

std::wstring CInstallJournal::BesideRunFile(const wchar_t* extension) const {
  if (!runFile_) return {};
  std::wstring path = runFile_->path();
  path.erase(path.size() - std::char_traits<wchar_t>::length(kJournalExtension));
  // Numbered by the record about to be written: one run may save more than once.
  return path + L"-" + std::to_wstring(runFile_->recordCount()) + extension;
}

std::wstring CInstallJournal::BackupName(std::error_code& error) const {
  if (runFile_) return BesideRunFile(L".backup");
  return ReserveBackupName(error);
}

std::error_code CInstallJournal::WriteAhead(JournalRecord record) {
  if (!runFile_) return {};
  if (Unrecorded(Ahead(record))) return runFileError_;
  aheadRecords_.emplace_back(records.size(), std::move(record));
  return {};
}

std::error_code CInstallJournal::SecureFile(const std::wstring& path) {
  if (!runFile_) return {};
  JournalRecord record;
  record.kind = RecordKind::InstalledFile;
  record.path = path;
  std::optional<std::size_t> number;
  // A copy: the file stays in place until it is replaced, also when its replacement fails.
  if (const std::error_code error = AheadWithBackup(record, true, number)) return error;
  aheadRecords_.emplace_back(records.size(), std::move(record));
  return {};
}

std::error_code CInstallJournal::SecureUninstallKey() {
  if (!runFile_) return {};
  std::wstring key;
  try {
    key = ProductUninstallKeyPath();
  } catch (const std::exception&) {
    return {};  // no product set: there is no key of ours to write
  }
  HKEY raw = nullptr;
  const LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &raw);
  const nv::reg_key existing(raw);
  // An existing key is saved by BeginUninstallKey before anything in it changes.
  if (status == ERROR_SUCCESS) return {};
  JournalRecord record;
  record.kind = RecordKind::UninstallKey;
  return WriteAhead(std::move(record));
}

std::error_code CInstallJournal::SecureProductPath() {
  if (!runFile_) return {};
  JournalRecord record;
  record.kind = RecordKind::ProductPathValue;
  record.backupPath = BesideRunFile(L".value");
  const std::optional<std::size_t> number = Ahead(record);
  if (!number) return runFileError_;
  const std::error_code error =
      SaveValueState(HKEY_LOCAL_MACHINE, makerKey, ProductPathValueName(), record.backupPath);
  if (error) {
    DeleteAnyFile(record.backupPath.c_str());
    Note(runFile_->AppendNoBackup(*number));
    return error;
  }
  aheadRecords_.emplace_back(records.size(), std::move(record));
  return {};
}

std::error_code CInstallJournal::DropPendingDeletions(const std::vector<std::wstring>& places) {
  if (!runFile_) return {};
  std::vector<PendingOperation> found;
  if (const std::error_code error = FindPendingDeletions(places, found)) return error;
  if (found.empty()) return {};
  JournalRecord record;
  record.kind = RecordKind::PendingDeletions;
  record.backupPath = BesideRunFile(L".pending");
  const std::optional<std::size_t> number = Ahead(record);
  if (!number) return runFileError_;
  if (const std::error_code error = SavePendingOperations(found, record.backupPath)) {
    DeleteAnyFile(record.backupPath.c_str());
    Note(runFile_->AppendNoBackup(*number));
    return error;
  }
  aheadRecords_.emplace_back(records.size(), std::move(record));
  std::vector<PendingOperation> dropped;
  return engine::DropPendingDeletions(places, dropped);
}

}  // namespace engine
