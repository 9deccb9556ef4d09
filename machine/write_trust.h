// Who may change a file or folder that an elevated run reads and acts on. Only principals that
// could already change the system itself are trusted: Administrators, SYSTEM, TrustedInstaller,
// and whoever owns or may write the system folder (System32). Owning a file proves nothing else:
// a standard user can move a file that administrators own into a folder open to users, and a
// program an administrator runs without elevation writes files that belong to that account. An
// object is trusted when it is owned by a trusted principal and its access list lets nobody else
// change it; a path is trusted when that holds for the object and every folder above it, each
// checked through a handle that does not follow a link.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace engine {

// An object's owner and the entries of its access list that allow something, as read from its
// handle. A SID is kept as its bytes.
struct SecurityFacts {
  bool known = false;     // the descriptor could be read
  bool nullList = false;  // no access list at all: everyone may do everything
  std::vector<BYTE> owner;
  struct Allowed {
    std::vector<BYTE> sid;  // empty for an entry of a kind that is not understood
    ACCESS_MASK mask = 0;
  };
  std::vector<Allowed> allowed;  // allow entries that apply to the object itself
};

// What must be closed to others.
enum class WriteScope {
  // Nothing of the object may be changed by others: its data or entries, its attributes, its
  // access list, its owner, its name.
  Everything,
  // Its entries may not be removed or replaced by others (a drive's root, where every user may
  // create new folders, but none may take away or rename the folders that are there).
  Entries,
};

// The facts of the object open as `object` (opened with READ_CONTROL).
SecurityFacts SecurityFactsOf(HANDLE object);

// Replaces the facts query (empty: the system's answer); returns the previous one. Tests use it
// for owners and access lists that the test system cannot show.
using SecurityQuery = std::function<SecurityFacts(HANDLE object)>;
SecurityQuery SetSecurityQuery(SecurityQuery query);

// True when `sid` is a trusted principal.
bool IsTrustedPrincipal(const void* sid);

// True when the object open as `object` is owned by a trusted principal and nobody else may
// change what `scope` names.
bool OnlyTrustedMayChange(HANDLE object, WriteScope scope);

// What an untrusted object is refused with: ERROR_ACCESS_DENIED ("1:00000005").
std::error_code untrusted_refused();

// Checks every element of the full path `path` ("X:\..."), the drive's root first: each must
// exist, must not be a link, and must be trusted (the root for its entries, every other element
// for everything). The error of the first element that fails: link_refused() for a link,
// untrusted_refused() for an untrusted one, the system's error when it cannot be opened.
std::error_code CheckTrustedPath(const std::wstring& path);

}  // namespace engine
