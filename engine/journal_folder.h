// The folder that keeps the journal files of installation runs (journal_file.h) and the backups
// that must outlive an interrupted run with them (the uninstall key's hive, the product path
// value's state): "<all-users application data>\Nuvelle\Journal". Only Administrators and SYSTEM
// may write there, and it is never reached through a link: what it holds decides what a later,
// elevated start deletes and puts back.
#pragma once

#include <string>
#include <system_error>
#include <vector>

namespace engine {

// The extension of a run's journal file; the run's other files carry its name too.
inline constexpr wchar_t kJournalExtension[] = L".journal";

// The folder; empty when the system names no all-users application data.
std::wstring JournalFolderPath();

// Tests put the folder elsewhere; an empty path restores the machine's. Returns the previous
// replacement.
std::wstring SetJournalFolderPath(std::wstring folder);

// Makes `folder` safe to hold journals: refuses a link on the way (below the all-users
// application data) or at the folder, gives an existing folder the administrators' owner and
// protected access list again (admin_folder.h) and, with `create`, creates a missing one with that
// list; its parent must exist. Without `create` a missing folder is ERROR_PATH_NOT_FOUND.
std::error_code PrepareJournalFolder(const std::wstring& folder, bool create);

// A name for a new run's files: a random version-4 UUID in braces, never given twice.
std::error_code NewRunName(std::wstring& name);

// Removes `folder` when it is empty, then each folder of `around` (folders that held it, innermost
// first) that is then empty.
void RemoveJournalFolder(const std::wstring& folder, const std::vector<std::wstring>& around);

}  // namespace engine
