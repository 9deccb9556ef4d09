// Deletions scheduled for the next restart (the system's PendingFileRenameOperations) of what an
// installation is about to write. An uninstallation that met a file in use schedules its deletion,
// and the folders that hold it after it; an installation made before the restart would lose the
// new file, and the folders around it, when the computer restarts. The installer drops such
// deletions before it writes anything and keeps them in a state file beside its journal, so that
// undoing the run schedules them again. Only administrators and the system can write the value.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace engine {

inline constexpr wchar_t kSessionManagerKey[] =
    L"System\\CurrentControlSet\\Control\\Session Manager";
inline constexpr wchar_t kPendingOperationsValue[] = L"PendingFileRenameOperations";

// One scheduled operation as the value stores it: the source ("\??\C:\x"), and the target
// (empty for a deletion, "\??\..." or "!\??\..." for a move).
struct PendingOperation {
  std::wstring source;
  std::wstring target;
  bool operator==(const PendingOperation&) const = default;
};

// The pairs of the value's REG_MULTI_SZ data; a source left without its target gets an empty one.
std::vector<PendingOperation> ParsePendingOperations(std::wstring_view data);

// The value's data for `operations`: every string with its NUL, and the NUL that ends the list.
std::wstring FormatPendingOperations(const std::vector<PendingOperation>& operations);

// True for a deletion of one of `places`, or of anything below one of them.
bool DeletesWithin(const PendingOperation& operation, const std::vector<std::wstring>& places);

// The deletions within `places` that the machine's value holds now, in their order.
std::error_code FindPendingDeletions(const std::vector<std::wstring>& places,
                                     std::vector<PendingOperation>& found);

// Takes the deletions within `places` out of the machine's value (the value goes when nothing is
// left in it); the ones taken out in `dropped`, in their order.
std::error_code DropPendingDeletions(const std::vector<std::wstring>& places,
                                     std::vector<PendingOperation>& dropped);

// Schedules `operations` again after those in the value now, but for any still there.
std::error_code RestorePendingOperations(const std::vector<PendingOperation>& operations);

// The state file of dropped operations: "NVPD", the value's data for them as UTF-16LE, and the
// CRC-32 of every byte before it. Written as a new file and flushed; read back as state files are.
std::error_code SavePendingOperations(const std::vector<PendingOperation>& operations,
                                      const std::wstring& file);
std::optional<std::vector<PendingOperation>> LoadPendingOperations(const std::wstring& file);

}  // namespace engine
