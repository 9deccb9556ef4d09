// The removal of one file, link or empty folder through a handle on the object itself: it is
// opened without following a link, its final path is checked through that handle to lie below its
// place (or exactly where its path names it), and it is deleted through the same handle. Whatever
// was put on the way between a path's judgement and its removal (a folder swapped for a junction)
// makes the final path lie elsewhere, and the removal is refused. Shared by the uninstaller's
// steps and the installation's undo. The final-path query can be replaced by tests, since the
// test system cannot make junctions.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <system_error>

namespace engine {

// What is removed: a file or a link (removed as the link), or a folder only when it is empty.
enum class EntryKind { fileOrLink, emptyFolder };

enum class RemovalOutcome {
  removed,
  absent,     // nothing was there
  notEmpty,   // a folder that still holds something: it stays
  elsewhere,  // its final path is not below its place: a link on the way, nothing was touched
  failed,     // see the error; a file another program holds fails with the system's error
};

struct RemovalResult {
  RemovalOutcome outcome = RemovalOutcome::failed;
  std::error_code error;  // for failed
};

// The final path of an open file or folder ("C:\..." or "\\server\share\..."), links on the way
// resolved; empty with the error when it cannot be had.
using FinalPathQuery = std::function<std::wstring(HANDLE object, std::error_code& error)>;

// Replaces the final-path query; an empty one restores the system's. Returns the previous query.
FinalPathQuery SetFinalPathQuery(FinalPathQuery query);

// The final path of `object` through the current query.
std::wstring FinalPathOf(HANDLE object, std::error_code& error);

// Removes `path` as `kind` when its final path lies below the final path of `place`; `place` is
// opened without following a link and refused when it is one. With an empty `place` the final path
// must be exactly the final path of the folder that holds `path`, followed by its name. A
// read-only attribute is cleared first and put back when the object stays.
RemovalResult RemoveThroughHandle(const std::wstring& path, EntryKind kind,
                                  const std::wstring& place);

// True when nothing of `result`'s object is left where it was: removed, or absent.
inline bool IsGone(const RemovalResult& result) {
  return result.outcome == RemovalOutcome::removed || result.outcome == RemovalOutcome::absent;
}

}  // namespace engine
