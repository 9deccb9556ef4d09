#include "nv/security.h"

#include <cstring>
#include <new>

#include "nv/advapi32.h"
#include "nv/link_check.h"
#include "nv/unique_handle.h"

namespace nv {

namespace api = advapi32;

void sid_deleter::operator()(void* sid) const noexcept {
  if (sid) api::free_sid(sid);
}

HRESULT well_known_sid(sid_kind kind, unique_sid& sid) noexcept {
  sid.reset();
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID raw = nullptr;
  HRESULT hr = E_INVALIDARG;
  switch (kind) {
    case sid_kind::everyone:
      hr = api::allocate_and_initialize_sid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                            &raw);
      break;
    case sid_kind::administrators:
      hr = api::allocate_and_initialize_sid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                            DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &raw);
      break;
    case sid_kind::users:
      hr = api::allocate_and_initialize_sid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                            DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0, &raw);
      break;
  }
  if (SUCCEEDED(hr)) sid.reset(raw);
  return hr;
}

namespace {

std::unique_ptr<BYTE[]> zeroed(size_t size) noexcept {
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]);
  if (buffer) std::memset(buffer.get(), 0, size);
  return buffer;
}

// Copies the entries [first, count) of `source` to the end of `target`, leaving out those for
// `users`. With `stop_at_inherited`, stops before the first inherited entry; `next` receives the
// index where the copy stopped.
HRESULT copy_entries(PACL source, DWORD first, DWORD count, bool stop_at_inherited, PSID users,
                     PACL target, DWORD& next) noexcept {
  DWORD i = first;
  for (; i < count; ++i) {
    void* entry = nullptr;
    HRESULT hr = api::get_ace(source, i, &entry);
    if (FAILED(hr)) return hr;
    auto* header = static_cast<ACE_HEADER*>(entry);
    if (stop_at_inherited && (header->AceFlags & INHERITED_ACE)) break;
    // The identifier follows the 4-byte header and the 4-byte access mask.
    PSID sid = static_cast<BYTE*>(entry) + sizeof(ACE_HEADER) + sizeof(ACCESS_MASK);
    bool valid = false;
    hr = api::is_valid_sid(sid, valid);
    if (FAILED(hr)) return hr;
    if (!valid) return E_INVALIDARG;
    bool is_users = false;
    hr = api::equal_sid(sid, users, is_users);
    if (FAILED(hr)) return hr;
    if (is_users) continue;
    hr = api::add_ace(target, ACL_REVISION, MAXDWORD, entry, header->AceSize);
    if (FAILED(hr)) return hr;
  }
  next = i;
  return S_OK;
}

}  // namespace

HRESULT build_users_descriptor(PSECURITY_DESCRIPTOR old_descriptor, PSID users, DWORD access_mask,
                               BYTE ace_flags, owned_descriptor& result) noexcept {
  PACL old_dacl = nullptr;
  DWORD old_count = 0;
  DWORD old_bytes = sizeof(ACL);
  if (old_descriptor) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    HRESULT hr = api::get_security_descriptor_dacl(old_descriptor, &present, &old_dacl, &defaulted);
    if (FAILED(hr)) return hr;
    if (!present) old_dacl = nullptr;
    if (old_dacl) {
      ACL_SIZE_INFORMATION info{};
      hr = api::get_acl_information(old_dacl, &info, sizeof(info), AclSizeInformation);
      if (FAILED(hr)) return hr;
      old_count = info.AceCount;
      old_bytes = info.AclBytesInUse;
    }
  }

  DWORD users_length = 0;
  HRESULT hr = api::get_length_sid(users, users_length);
  if (FAILED(hr)) return hr;
  // The old list, plus the new entry: its header and mask (8 bytes) and the identifier.
  const DWORD acl_size = old_bytes + 8 + users_length;
  auto acl_buffer = zeroed(acl_size);
  if (!acl_buffer) return E_OUTOFMEMORY;
  auto* acl = reinterpret_cast<PACL>(acl_buffer.get());
  hr = api::initialize_acl(acl, acl_size, ACL_REVISION);
  if (FAILED(hr)) return hr;

  // Entries are only ever appended, so the list is built in its final order: explicit entries,
  // the Users entry, inherited entries.
  DWORD next = 0;
  if (old_dacl) {
    hr = copy_entries(old_dacl, 0, old_count, true, users, acl, next);
    if (FAILED(hr)) return hr;
  }
  hr = E_NOTIMPL;
  if (ace_flags != 0) hr = api::add_access_allowed_ace_ex(acl, ACL_REVISION, ace_flags, access_mask,
                                                          users);
  if (hr == E_NOTIMPL) hr = api::add_access_allowed_ace(acl, ACL_REVISION, access_mask, users);
  if (FAILED(hr)) return hr;
  if (old_dacl) {
    hr = copy_entries(old_dacl, next, old_count, false, users, acl, next);
    if (FAILED(hr)) return hr;
  }

  auto descriptor = zeroed(SECURITY_DESCRIPTOR_MIN_LENGTH);
  if (!descriptor) return E_OUTOFMEMORY;
  hr = api::initialize_security_descriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION);
  if (FAILED(hr)) return hr;
  hr = api::set_security_descriptor_dacl(descriptor.get(), TRUE, acl, FALSE);
  if (FAILED(hr)) return hr;

  if (old_descriptor) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    hr = api::get_security_descriptor_control(old_descriptor, &control, &revision);
    if (FAILED(hr)) return hr;
    SECURITY_DESCRIPTOR_CONTROL bits = 0;
    if (control & SE_DACL_AUTO_INHERITED)
      bits = SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED;
    else if (control & SE_DACL_PROTECTED)
      bits = SE_DACL_PROTECTED;
    if (bits) {
      hr = api::set_security_descriptor_control(descriptor.get(), bits, bits);
      // A system without SetSecurityDescriptorControl keeps the default control bits.
      if (FAILED(hr) && hr != E_NOTIMPL) return hr;
    }
  }

  result.acl_ = std::move(acl_buffer);
  result.descriptor_ = std::move(descriptor);
  return S_OK;
}

namespace {

HRESULT grant(const std::wstring& path, DWORD access_mask, BYTE ace_flags) noexcept {
  unique_sid users;
  HRESULT hr = well_known_sid(sid_kind::users, users);
  if (FAILED(hr)) return hr;

  // Opened as itself, so that the object checked is the object changed: a link is refused, not
  // followed, and a file known by a second name elsewhere is left alone.
  unique_handle object(::CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                     nullptr));
  if (!object) return api::hresult_from_last_error();
  const file_facts facts = facts_of(object.get());
  if (facts.attributes == INVALID_FILE_ATTRIBUTES) return E_UNEXPECTED;
  const bool folder = (facts.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (is_link(facts) || (!folder && !is_plain_file(facts)))
    return HRESULT_FROM_WIN32(ERROR_CANT_ACCESS_FILE);

  DWORD needed = 0;
  hr = api::get_kernel_object_security(object.get(), DACL_SECURITY_INFORMATION, nullptr, 0,
                                       &needed);
  if (FAILED(hr) && hr != HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)) return hr;
  if (needed == 0) return E_UNEXPECTED;
  auto old_buffer = zeroed(needed);
  if (!old_buffer) return E_OUTOFMEMORY;
  hr = api::get_kernel_object_security(object.get(), DACL_SECURITY_INFORMATION, old_buffer.get(),
                                       needed, &needed);
  if (FAILED(hr)) return hr;

  owned_descriptor updated;
  hr = build_users_descriptor(old_buffer.get(), users.get(), access_mask, ace_flags, updated);
  if (FAILED(hr)) return hr;
  return api::set_kernel_object_security(object.get(), DACL_SECURITY_INFORMATION, updated.get());
}

}  // namespace

bool grant_users_access(const std::wstring& path, DWORD access_mask, BYTE ace_flags) noexcept {
  return SUCCEEDED(grant(path, access_mask, ace_flags));
}

}  // namespace nv
