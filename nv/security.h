// Well-known security identifiers and the grant of access to the local Users group on a file or
// folder. All calls into "advapi32.dll" go through the run-time binding of nv/advapi32.h; the
// steps report failures as HRESULTs and the public operations return bool.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace nv {

// The identifiers the installer uses, by their table number.
enum class sid_kind : int {
  everyone = 0,        // S-1-1-0
  administrators = 1,  // S-1-5-32-544
  users = 2,           // S-1-5-32-545
};

// An identifier built by AllocateAndInitializeSid, released with FreeSid.
struct sid_deleter {
  void operator()(void* sid) const noexcept;
};
using unique_sid = std::unique_ptr<void, sid_deleter>;

// Builds the identifier of `kind`. E_INVALIDARG for a kind outside the table.
HRESULT well_known_sid(sid_kind kind, unique_sid& sid) noexcept;

// A self-contained absolute security descriptor: the 20-byte descriptor and the DACL it points
// to live in buffers owned by this object. Movable (the buffers do not move), not copyable.
class owned_descriptor {
 public:
  owned_descriptor() = default;
  owned_descriptor(owned_descriptor&&) noexcept = default;
  owned_descriptor& operator=(owned_descriptor&&) noexcept = default;
  owned_descriptor(const owned_descriptor&) = delete;
  owned_descriptor& operator=(const owned_descriptor&) = delete;

  PSECURITY_DESCRIPTOR get() const noexcept { return descriptor_.get(); }
  PACL dacl() const noexcept { return reinterpret_cast<PACL>(acl_.get()); }

 private:
  friend HRESULT build_users_descriptor(PSECURITY_DESCRIPTOR, PSID, DWORD, BYTE,
                                        owned_descriptor&) noexcept;
  std::unique_ptr<BYTE[]> descriptor_;
  std::unique_ptr<BYTE[]> acl_;
};

// The descriptor that grant_users_access writes, built from the file's current descriptor
// `old_descriptor` (null, or without DACL, counts as an empty list):
//   the old explicit entries, the new entry allowing `users` `access_mask` with `ace_flags`, then
//   the old inherited entries and whatever follows them; old entries for `users` are dropped.
// Control bits: SE_DACL_AUTO_INHERITED on the old descriptor gives SE_DACL_AUTO_INHERIT_REQ |
// SE_DACL_AUTO_INHERITED on the new one, otherwise SE_DACL_PROTECTED is carried over.
HRESULT build_users_descriptor(PSECURITY_DESCRIPTOR old_descriptor, PSID users, DWORD access_mask,
                               BYTE ace_flags, owned_descriptor& result) noexcept;

// Adds to the DACL of `path` an entry that allows the local Users group `access_mask` with
// `ace_flags` (see build_users_descriptor), read and written through one handle of the object
// itself. A link (junction, symbolic link) and a file with a second name are refused, never
// followed. True when the new DACL was written; never throws.
bool grant_users_access(const std::wstring& path, DWORD access_mask, BYTE ace_flags) noexcept;

}  // namespace nv
