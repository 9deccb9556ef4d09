// The administrator check, enabling and disabling a privilege of the process, and the security
// descriptor that lets every user open the named synchronisation objects. All calls into
// "advapi32.dll" go through the run-time binding of nv/advapi32.h.
#pragma once

#include <windows.h>

#include <memory>

namespace nv {

// An absolute security descriptor and the DACL it points to, both in buffers owned by this
// object (they do not move when the object is moved).
class access_descriptor {
 public:
  PSECURITY_DESCRIPTOR get() const noexcept { return descriptor_.get(); }
  PACL dacl() const noexcept { return reinterpret_cast<PACL>(acl_.get()); }
  explicit operator bool() const noexcept { return descriptor_ != nullptr; }

 private:
  friend HRESULT world_access_descriptor(DWORD access_mask, access_descriptor& result) noexcept;
  std::unique_ptr<BYTE[]> descriptor_;
  std::unique_ptr<BYTE[]> acl_;
};

// True when the user running the process belongs to the local Administrators group: asked through
// CheckTokenMembership, else (that function missing or failing) through an access check against
// a descriptor that only admits Administrators. Never throws; any failure gives false.
bool is_administrator() noexcept;

// Enables or disables the privilege `name` ("SeBackupPrivilege") in the process token. False for
// a name the system does not know or a privilege the token does not hold. Never throws.
bool set_privilege(const wchar_t* name, bool enable) noexcept;

// A descriptor whose DACL holds one entry allowing Everyone `access_mask`; no owner, group or
// system list. On failure `result` is empty and the HRESULT says why (E_UNEXPECTED when
// "advapi32.dll" cannot be loaded).
HRESULT world_access_descriptor(DWORD access_mask, access_descriptor& result) noexcept;

}  // namespace nv
