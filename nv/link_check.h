// What is a link. A standard user can put a junction, a symbolic link or a second hard link into a
// folder that every user can write to before the elevated installer runs; nothing the installer
// grants, writes, adopts or backs up may reach through one. These decisions live here; the two
// questions they ask the file system can be replaced by tests, since the test system cannot make
// reparse points.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace nv {

// What the checks learn about one file or folder.
struct file_facts {
  DWORD attributes = INVALID_FILE_ATTRIBUTES;  // INVALID_FILE_ATTRIBUTES: it does not exist
  DWORD links = 0;                             // the file's names (hard links); 0 when unknown
};

struct link_queries {
  // The attributes of a path, not following a link there; INVALID_FILE_ATTRIBUTES when absent.
  std::function<DWORD(const std::wstring& path)> attributes;
  // The facts of an open file or folder.
  std::function<file_facts(HANDLE object)> of_handle;
};

// Replaces the queries; an empty member restores the system's. Returns the previous queries.
link_queries set_link_queries(link_queries queries);

// The attributes of `path` and, when it exists, the facts of the object itself (opened without
// following a link and without access to its data).
file_facts facts_of(const std::wstring& path);
file_facts facts_of(HANDLE object);

inline bool is_link(const file_facts& facts) {
  return facts.attributes != INVALID_FILE_ATTRIBUTES &&
         (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A regular file that is neither a link nor known by a second name.
inline bool is_plain_file(const file_facts& facts) {
  return facts.attributes != INVALID_FILE_ATTRIBUTES &&
         !(facts.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
         facts.links == 1;
}

// True when `path` lies below `root` (compared without regard to case, whole elements only).
bool is_below(const std::wstring& root, const std::wstring& path);

// The first element of `path` strictly below `root`, down to `path` itself, that exists as a link
// (junction, symbolic link, mount point); empty when there is none or `path` is not below `root`.
// Elements that do not exist yet end the walk: nothing below them exists either.
std::wstring first_link_below(const std::wstring& root, const std::wstring& path);

}  // namespace nv
