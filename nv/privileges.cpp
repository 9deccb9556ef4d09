#include "nv/privileges.h"

#include <new>

#include "nv/advapi32.h"
#include "nv/security.h"
#include "nv/unique_handle.h"

namespace nv {
namespace api = advapi32;

namespace {

// The access rights of the administrator check's private object: read and write.
constexpr DWORD kCheckRead = 1;
constexpr DWORD kCheckWrite = 2;

std::unique_ptr<BYTE[]> zeroed(DWORD size) noexcept {
  return std::unique_ptr<BYTE[]>(new (std::nothrow) BYTE[size]());
}

// A DACL of 16 + length of `sid` bytes holding one entry that allows `sid` `mask`.
HRESULT single_entry_acl(PSID sid, DWORD mask, std::unique_ptr<BYTE[]>& acl) noexcept {
  DWORD sid_length = 0;
  HRESULT hr = api::get_length_sid(sid, sid_length);
  if (FAILED(hr)) return hr;
  const DWORD size = 16 + sid_length;
  auto buffer = zeroed(size);
  if (!buffer) return E_OUTOFMEMORY;
  const auto list = reinterpret_cast<PACL>(buffer.get());
  hr = api::initialize_acl(list, size, ACL_REVISION);
  if (FAILED(hr)) return hr;
  hr = api::add_access_allowed_ace(list, ACL_REVISION, mask, sid);
  if (FAILED(hr)) return hr;
  acl = std::move(buffer);
  return S_OK;
}

// The token of the current thread for a query, or the process token when the thread does not
// impersonate.
HRESULT open_query_token(BOOL open_as_self, unique_handle& token) noexcept {
  HANDLE raw = nullptr;
  HRESULT hr = api::open_thread_token(::GetCurrentThread(), TOKEN_QUERY, open_as_self, &raw);
  if (hr == HRESULT_FROM_WIN32(ERROR_NO_TOKEN)) {
    hr = api::open_process_token(::GetCurrentProcess(), TOKEN_QUERY, &raw);
  }
  if (SUCCEEDED(hr)) token.reset(raw);
  return hr;
}

// Undoes ImpersonateSelf when it succeeded.
class self_impersonation {
 public:
  self_impersonation() noexcept
      : active_(SUCCEEDED(api::impersonate_self(SecurityImpersonation))) {}
  self_impersonation(const self_impersonation&) = delete;
  self_impersonation& operator=(const self_impersonation&) = delete;
  ~self_impersonation() {
    if (active_) api::revert_to_self();
  }

 private:
  bool active_;
};

// The access-check method: may the thread's token open a descriptor that grants access only to
// Administrators? `member` stays false unless the check says so.
HRESULT administrator_by_access_check(bool& member) noexcept {
  member = false;
  // Declared first so that the token is closed after RevertToSelf.
  unique_handle token;
  self_impersonation impersonation;
  HRESULT hr = open_query_token(FALSE, token);
  if (FAILED(hr)) return hr;

  unique_sid administrators;
  hr = well_known_sid(sid_kind::administrators, administrators);
  if (FAILED(hr)) return hr;
  std::unique_ptr<BYTE[]> acl;
  hr = single_entry_acl(administrators.get(), kCheckRead | kCheckWrite, acl);
  if (FAILED(hr)) return hr;

  auto descriptor = zeroed(SECURITY_DESCRIPTOR_MIN_LENGTH);
  if (!descriptor) return E_OUTOFMEMORY;
  PSECURITY_DESCRIPTOR sd = descriptor.get();
  hr = api::initialize_security_descriptor(sd, SECURITY_DESCRIPTOR_REVISION);
  if (FAILED(hr)) return hr;
  hr = api::set_security_descriptor_dacl(sd, TRUE, reinterpret_cast<PACL>(acl.get()), FALSE);
  if (FAILED(hr)) return hr;
  hr = api::set_security_descriptor_group(sd, administrators.get(), FALSE);
  if (FAILED(hr)) return hr;
  hr = api::set_security_descriptor_owner(sd, administrators.get(), FALSE);
  if (FAILED(hr)) return hr;
  bool valid = false;
  hr = api::is_valid_security_descriptor(sd, valid);
  if (FAILED(hr)) return hr;
  if (!valid) return E_UNEXPECTED;

  GENERIC_MAPPING mapping{kCheckRead, kCheckWrite, 0, kCheckRead | kCheckWrite};
  alignas(PRIVILEGE_SET) BYTE privileges[20] = {};
  DWORD privileges_length = sizeof privileges;
  DWORD granted = 0;
  BOOL status = FALSE;
  hr = api::access_check(sd, token.get(), kCheckRead, &mapping,
                         reinterpret_cast<PPRIVILEGE_SET>(privileges), &privileges_length,
                         &granted, &status);
  if (FAILED(hr)) return hr;
  member = status != FALSE;
  return S_OK;
}

}  // namespace

bool is_administrator() noexcept {
  {
    unique_sid administrators;
    bool member = false;
    if (SUCCEEDED(well_known_sid(sid_kind::administrators, administrators)) &&
        SUCCEEDED(api::check_token_membership(nullptr, administrators.get(), member))) {
      return member;
    }
  }
  bool member = false;
  administrator_by_access_check(member);
  return member;
}

bool set_privilege(const wchar_t* name, bool enable) noexcept {
  HANDLE raw = nullptr;
  if (FAILED(api::open_process_token(::GetCurrentProcess(),
                                     TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw))) {
    return false;
  }
  unique_handle token(raw);

  LUID luid{};
  if (FAILED(api::lookup_privilege_value(nullptr, name, &luid))) return false;

  // The first adjustment disables the privilege and hands back its previous state, whose other
  // attribute bits are then kept in the second one.
  TOKEN_PRIVILEGES request{};
  request.PrivilegeCount = 1;
  request.Privileges[0].Luid = luid;
  request.Privileges[0].Attributes = 0;
  TOKEN_PRIVILEGES previous{};
  DWORD returned = sizeof previous;
  if (FAILED(api::adjust_token_privileges(token.get(), FALSE, &request, sizeof request, &previous,
                                          &returned))) {
    return false;
  }

  previous.PrivilegeCount = 1;
  previous.Privileges[0].Luid = luid;
  if (enable) {
    previous.Privileges[0].Attributes |= SE_PRIVILEGE_ENABLED;
  } else {
    previous.Privileges[0].Attributes &= ~static_cast<DWORD>(SE_PRIVILEGE_ENABLED);
  }
  return SUCCEEDED(
      api::adjust_token_privileges(token.get(), FALSE, &previous, returned, nullptr, nullptr));
}

HRESULT world_access_descriptor(DWORD access_mask, access_descriptor& result) noexcept {
  result.descriptor_.reset();
  result.acl_.reset();
  std::unique_ptr<BYTE[]> acl;
  {
    unique_sid everyone;
    HRESULT hr = well_known_sid(sid_kind::everyone, everyone);
    if (FAILED(hr)) return hr;
    hr = single_entry_acl(everyone.get(), access_mask, acl);
    if (FAILED(hr)) return hr;
  }
  auto descriptor = zeroed(SECURITY_DESCRIPTOR_MIN_LENGTH);
  if (!descriptor) return E_OUTOFMEMORY;
  HRESULT hr = api::initialize_security_descriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION);
  if (FAILED(hr)) return hr;
  hr = api::set_security_descriptor_dacl(descriptor.get(), TRUE,
                                         reinterpret_cast<PACL>(acl.get()), FALSE);
  if (FAILED(hr)) return hr;
  result.descriptor_ = std::move(descriptor);
  result.acl_ = std::move(acl);
  return S_OK;
}

}  // namespace nv
