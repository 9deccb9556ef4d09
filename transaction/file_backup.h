// Backups of the files a run changes: the original moved or copied away, written through to disk
// before it changes, under a fresh name in the system temporary folder (or, in a run with a
// journal file, beside it). The journal takes them before it replaces or removes a file; its
// undo puts them back.
#pragma once

#include <string>
#include <system_error>

namespace engine {

// A fresh "nv" name in the system temporary folder; the file GetTempFileNameW makes is deleted at
// once so that the name is free. Empty on failure, with the error.
std::wstring ReserveBackupName(std::error_code& error);

// Moves (or copies, with `keepSource`) `source` to `name`; the moved file or both files keep the
// source's attributes. On failure the source keeps its attributes and the error is returned.
std::error_code TakeBackup(const std::wstring& source, const std::wstring& name, bool keepSource);

// Moves (or copies, with `keepSource`) `source` to a fresh "nv" file in the system temporary
// folder and returns that file's path; with null it only reserves the name. Empty on failure,
// with the failing call's system error in `error` when given. A run with a journal file keeps
// its backups beside it instead.
std::wstring MakeBackup(const wchar_t* source, bool keepSource, std::error_code* error = nullptr);

}  // namespace engine
