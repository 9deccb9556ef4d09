// The folder that keeps the journal files of installation runs (journal_file.h) and everything an
// interrupted run's recovery reads with them: the backups of the files the run replaced, the
// uninstall key's and the product path value's previous state. It lies below the Program Files
// folder ("<Common Files>\Nuvelle Journal"), never below a folder that users may write to: what
// it holds decides what a later, elevated start deletes and puts back. Its whole path is checked
// at every use (write_trust.h).
#pragma once

#include <string>
#include <system_error>

namespace engine {

// The extension of a run's journal file; the run's other files carry its name too.
inline constexpr wchar_t kJournalExtension[] = L".journal";

// The folder; empty when the system names no common program files folder.
std::wstring JournalFolderPath();

// Tests put the folder elsewhere; an empty path restores the machine's. Returns the previous
// replacement.
std::wstring SetJournalFolderPath(std::wstring folder);

// Makes sure `folder` may hold journals: the whole path of its parent is trusted, and the folder
// itself is a trusted folder, not a link. With `create`, a missing folder is created with the
// administrators' access list (admin_folder.h), and whatever else stands in its place (a file,
// a link, a folder that others may change) is moved aside, renamed "<name>.<uuid>.untrusted", and
// the folder is made afresh. Without `create` a missing folder is ERROR_PATH_NOT_FOUND and an
// untrusted one is refused (write_trust.h).
std::error_code PrepareJournalFolder(const std::wstring& folder, bool create);

// A name for a new run's files: a random version-4 UUID in braces, never given twice.
std::error_code NewRunName(std::wstring& name);

// Removes `folder` when it is empty.
void RemoveJournalFolder(const std::wstring& folder);

}  // namespace engine
