#include "nv/advapi32.h"
#include "nv/dll_search.h"

#include <array>

namespace nv::advapi32 {
namespace {

constexpr const char* kNames[] = {
    "AllocateAndInitializeSid",    "FreeSid",
    "IsValidSid",                  "GetLengthSid",
    "EqualSid",                    "InitializeAcl",
    "AddAccessAllowedAce",         "AddAccessAllowedAceEx",
    "AddAce",                      "GetAce",
    "GetAclInformation",           "InitializeSecurityDescriptor",
    "SetSecurityDescriptorDacl",   "GetSecurityDescriptorDacl",
    "GetSecurityDescriptorControl", "SetSecurityDescriptorControl",
    "GetFileSecurityW",            "SetFileSecurityW",
    "OpenProcessToken",            "OpenThreadToken",
    "CheckTokenMembership",        "ImpersonateSelf",
    "RevertToSelf",                "AccessCheck",
    "IsValidSecurityDescriptor",   "SetSecurityDescriptorOwner",
    "SetSecurityDescriptorGroup",  "LookupPrivilegeValueW",
    "AdjustTokenPrivileges",       "GetKernelObjectSecurity",
    "SetKernelObjectSecurity",
};
static_assert(std::size(kNames) == static_cast<size_t>(function::count));

// The process-wide binding: the module handle and one address per function, filled on first use
// and never cleared. The installer calls these functions from its one user-interface thread; a
// concurrent first use would at worst resolve the same address twice.
struct Binding {
  HMODULE module = nullptr;
  std::array<FARPROC, static_cast<size_t>(function::count)> addresses{};
  // Test hooks.
  std::array<bool, static_cast<size_t>(function::count)> hidden{};
  bool module_hidden = false;
  int membership_answer = -1;
};

Binding& binding() noexcept {
  static Binding b;
  return b;
}

HMODULE module_handle() noexcept {
  Binding& b = binding();
  if (b.module_hidden) return nullptr;
  if (!b.module) {
    HMODULE m = ::GetModuleHandleW(L"advapi32.dll");
    if (!m) m = load_system_library(L"advapi32.dll");
    b.module = m;  // kept for the life of the process; never freed
  }
  return b.module;
}

// Calls the bound function `f` of type P and turns a false (zero) result into the HRESULT of
// GetLastError.
template <class P, class... A>
HRESULT call(function f, A... args) noexcept {
  FARPROC address = nullptr;
  HRESULT hr = resolve(f, address);
  if (FAILED(hr)) return hr;
  if (!reinterpret_cast<P>(address)(args...)) return hresult_from_last_error();
  return S_OK;
}

// Calls the bound predicate `f` of type P, whose false result is an answer, not a failure.
template <class P, class... A>
HRESULT ask(function f, bool& answer, A... args) noexcept {
  answer = false;
  FARPROC address = nullptr;
  HRESULT hr = resolve(f, address);
  if (FAILED(hr)) return hr;
  answer = reinterpret_cast<P>(address)(args...) != FALSE;
  return S_OK;
}

using AllocateAndInitializeSidFn = BOOL(WINAPI*)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD,
                                                 DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, PSID*);
using FreeSidFn = PVOID(WINAPI*)(PSID);
using IsValidSidFn = BOOL(WINAPI*)(PSID);
using GetLengthSidFn = DWORD(WINAPI*)(PSID);
using EqualSidFn = BOOL(WINAPI*)(PSID, PSID);
using InitializeAclFn = BOOL(WINAPI*)(PACL, DWORD, DWORD);
using AddAccessAllowedAceFn = BOOL(WINAPI*)(PACL, DWORD, DWORD, PSID);
using AddAccessAllowedAceExFn = BOOL(WINAPI*)(PACL, DWORD, DWORD, DWORD, PSID);
using AddAceFn = BOOL(WINAPI*)(PACL, DWORD, DWORD, LPVOID, DWORD);
using GetAceFn = BOOL(WINAPI*)(PACL, DWORD, LPVOID*);
using GetAclInformationFn = BOOL(WINAPI*)(PACL, LPVOID, DWORD, ACL_INFORMATION_CLASS);
using InitializeSecurityDescriptorFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, DWORD);
using SetSecurityDescriptorDaclFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
using GetSecurityDescriptorDaclFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, LPBOOL, PACL*, LPBOOL);
using GetSecurityDescriptorControlFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR,
                                                     PSECURITY_DESCRIPTOR_CONTROL, LPDWORD);
using SetSecurityDescriptorControlFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR,
                                                     SECURITY_DESCRIPTOR_CONTROL,
                                                     SECURITY_DESCRIPTOR_CONTROL);
using GetFileSecurityWFn = BOOL(WINAPI*)(LPCWSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR,
                                         DWORD, LPDWORD);
using SetFileSecurityWFn = BOOL(WINAPI*)(LPCWSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);
using GetKernelObjectSecurityFn = BOOL(WINAPI*)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR,
                                                DWORD, LPDWORD);
using SetKernelObjectSecurityFn = BOOL(WINAPI*)(HANDLE, SECURITY_INFORMATION,
                                                PSECURITY_DESCRIPTOR);
using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
using OpenThreadTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, BOOL, PHANDLE);
using CheckTokenMembershipFn = BOOL(WINAPI*)(HANDLE, PSID, PBOOL);
using ImpersonateSelfFn = BOOL(WINAPI*)(SECURITY_IMPERSONATION_LEVEL);
using RevertToSelfFn = BOOL(WINAPI*)();
using AccessCheckFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, HANDLE, DWORD, PGENERIC_MAPPING,
                                    PPRIVILEGE_SET, LPDWORD, LPDWORD, LPBOOL);
using IsValidSecurityDescriptorFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR);
using SetSecurityDescriptorOwnerFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, PSID, BOOL);
using SetSecurityDescriptorGroupFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, PSID, BOOL);
using LookupPrivilegeValueWFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, PLUID);
using AdjustTokenPrivilegesFn = BOOL(WINAPI*)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD,
                                              PTOKEN_PRIVILEGES, PDWORD);

}  // namespace

HRESULT hresult_from_error(DWORD error) noexcept {
  const auto value = static_cast<LONG>(error);
  if (value <= 0) return static_cast<HRESULT>(value);
  return static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}

HRESULT resolve(function f, FARPROC& address) noexcept {
  address = nullptr;
  const auto slot = static_cast<size_t>(f);
  if (slot >= static_cast<size_t>(function::count)) return E_UNEXPECTED;
  HMODULE module = module_handle();
  if (!module) return E_UNEXPECTED;
  Binding& b = binding();
  if (b.hidden[slot]) return E_NOTIMPL;
  if (!b.addresses[slot]) b.addresses[slot] = ::GetProcAddress(module, kNames[slot]);
  if (!b.addresses[slot]) return E_NOTIMPL;
  address = b.addresses[slot];
  return S_OK;
}

HRESULT allocate_and_initialize_sid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD s0,
                                    DWORD s1, DWORD s2, DWORD s3, DWORD s4, DWORD s5, DWORD s6,
                                    DWORD s7, PSID* sid) noexcept {
  return call<AllocateAndInitializeSidFn>(function::AllocateAndInitializeSid, authority, count, s0,
                                          s1, s2, s3, s4, s5, s6, s7, sid);
}

HRESULT free_sid(PSID sid) noexcept {
  FARPROC address = nullptr;
  HRESULT hr = resolve(function::FreeSid, address);
  if (FAILED(hr)) return hr;
  if (reinterpret_cast<FreeSidFn>(address)(sid) != nullptr) return hresult_from_last_error();
  return S_OK;
}

HRESULT is_valid_sid(PSID sid, bool& valid) noexcept {
  return ask<IsValidSidFn>(function::IsValidSid, valid, sid);
}

HRESULT equal_sid(PSID a, PSID b, bool& equal) noexcept {
  return ask<EqualSidFn>(function::EqualSid, equal, a, b);
}

HRESULT get_length_sid(PSID sid, DWORD& length) noexcept {
  length = 0;
  FARPROC address = nullptr;
  HRESULT hr = resolve(function::GetLengthSid, address);
  if (FAILED(hr)) return hr;
  length = reinterpret_cast<GetLengthSidFn>(address)(sid);
  return length ? S_OK : E_UNEXPECTED;
}

HRESULT initialize_acl(PACL acl, DWORD length, DWORD revision) noexcept {
  return call<InitializeAclFn>(function::InitializeAcl, acl, length, revision);
}

HRESULT add_access_allowed_ace(PACL acl, DWORD revision, DWORD mask, PSID sid) noexcept {
  return call<AddAccessAllowedAceFn>(function::AddAccessAllowedAce, acl, revision, mask, sid);
}

HRESULT add_access_allowed_ace_ex(PACL acl, DWORD revision, DWORD flags, DWORD mask,
                                  PSID sid) noexcept {
  return call<AddAccessAllowedAceExFn>(function::AddAccessAllowedAceEx, acl, revision, flags,
                                       mask, sid);
}

HRESULT add_ace(PACL acl, DWORD revision, DWORD start_index, LPVOID ace_list,
                DWORD ace_list_length) noexcept {
  return call<AddAceFn>(function::AddAce, acl, revision, start_index, ace_list, ace_list_length);
}

HRESULT get_ace(PACL acl, DWORD index, LPVOID* ace) noexcept {
  return call<GetAceFn>(function::GetAce, acl, index, ace);
}

HRESULT get_acl_information(PACL acl, LPVOID info, DWORD length,
                            ACL_INFORMATION_CLASS info_class) noexcept {
  return call<GetAclInformationFn>(function::GetAclInformation, acl, info, length, info_class);
}

HRESULT initialize_security_descriptor(PSECURITY_DESCRIPTOR sd, DWORD revision) noexcept {
  return call<InitializeSecurityDescriptorFn>(function::InitializeSecurityDescriptor, sd,
                                              revision);
}

HRESULT set_security_descriptor_dacl(PSECURITY_DESCRIPTOR sd, BOOL present, PACL dacl,
                                     BOOL defaulted) noexcept {
  return call<SetSecurityDescriptorDaclFn>(function::SetSecurityDescriptorDacl, sd, present, dacl,
                                           defaulted);
}

HRESULT get_security_descriptor_dacl(PSECURITY_DESCRIPTOR sd, LPBOOL present, PACL* dacl,
                                     LPBOOL defaulted) noexcept {
  return call<GetSecurityDescriptorDaclFn>(function::GetSecurityDescriptorDacl, sd, present, dacl,
                                           defaulted);
}

HRESULT get_security_descriptor_control(PSECURITY_DESCRIPTOR sd,
                                        PSECURITY_DESCRIPTOR_CONTROL control,
                                        LPDWORD revision) noexcept {
  return call<GetSecurityDescriptorControlFn>(function::GetSecurityDescriptorControl, sd, control,
                                              revision);
}

HRESULT set_security_descriptor_control(PSECURITY_DESCRIPTOR sd,
                                        SECURITY_DESCRIPTOR_CONTROL mask,
                                        SECURITY_DESCRIPTOR_CONTROL bits) noexcept {
  return call<SetSecurityDescriptorControlFn>(function::SetSecurityDescriptorControl, sd, mask,
                                              bits);
}

HRESULT get_file_security(LPCWSTR path, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR sd,
                          DWORD length, LPDWORD needed) noexcept {
  return call<GetFileSecurityWFn>(function::GetFileSecurityW, path, info, sd, length, needed);
}

HRESULT set_file_security(LPCWSTR path, SECURITY_INFORMATION info,
                          PSECURITY_DESCRIPTOR sd) noexcept {
  return call<SetFileSecurityWFn>(function::SetFileSecurityW, path, info, sd);
}

HRESULT get_kernel_object_security(HANDLE object, SECURITY_INFORMATION info,
                                   PSECURITY_DESCRIPTOR sd, DWORD length, LPDWORD needed) noexcept {
  return call<GetKernelObjectSecurityFn>(function::GetKernelObjectSecurity, object, info, sd,
                                         length, needed);
}

HRESULT set_kernel_object_security(HANDLE object, SECURITY_INFORMATION info,
                                   PSECURITY_DESCRIPTOR sd) noexcept {
  return call<SetKernelObjectSecurityFn>(function::SetKernelObjectSecurity, object, info, sd);
}

HRESULT open_process_token(HANDLE process, DWORD access, PHANDLE token) noexcept {
  return call<OpenProcessTokenFn>(function::OpenProcessToken, process, access, token);
}

HRESULT open_thread_token(HANDLE thread, DWORD access, BOOL open_as_self, PHANDLE token) noexcept {
  return call<OpenThreadTokenFn>(function::OpenThreadToken, thread, access, open_as_self, token);
}

HRESULT check_token_membership(HANDLE token, PSID sid, bool& is_member) noexcept {
  is_member = false;
  BOOL member = FALSE;
  HRESULT hr = call<CheckTokenMembershipFn>(function::CheckTokenMembership, token, sid, &member);
  if (FAILED(hr)) return hr;
  const int answer = binding().membership_answer;
  is_member = answer < 0 ? member != FALSE : answer != 0;
  return S_OK;
}

HRESULT impersonate_self(SECURITY_IMPERSONATION_LEVEL level) noexcept {
  return call<ImpersonateSelfFn>(function::ImpersonateSelf, level);
}

HRESULT revert_to_self() noexcept { return call<RevertToSelfFn>(function::RevertToSelf); }

HRESULT access_check(PSECURITY_DESCRIPTOR sd, HANDLE token, DWORD desired,
                     PGENERIC_MAPPING mapping, PPRIVILEGE_SET privileges, LPDWORD privileges_length,
                     LPDWORD granted, LPBOOL status) noexcept {
  return call<AccessCheckFn>(function::AccessCheck, sd, token, desired, mapping, privileges,
                             privileges_length, granted, status);
}

HRESULT is_valid_security_descriptor(PSECURITY_DESCRIPTOR sd, bool& valid) noexcept {
  return ask<IsValidSecurityDescriptorFn>(function::IsValidSecurityDescriptor, valid, sd);
}

HRESULT set_security_descriptor_owner(PSECURITY_DESCRIPTOR sd, PSID owner,
                                      BOOL defaulted) noexcept {
  return call<SetSecurityDescriptorOwnerFn>(function::SetSecurityDescriptorOwner, sd, owner,
                                            defaulted);
}

HRESULT set_security_descriptor_group(PSECURITY_DESCRIPTOR sd, PSID group,
                                      BOOL defaulted) noexcept {
  return call<SetSecurityDescriptorGroupFn>(function::SetSecurityDescriptorGroup, sd, group,
                                            defaulted);
}

HRESULT lookup_privilege_value(LPCWSTR system, LPCWSTR name, PLUID luid) noexcept {
  return call<LookupPrivilegeValueWFn>(function::LookupPrivilegeValueW, system, name, luid);
}

HRESULT adjust_token_privileges(HANDLE token, BOOL disable_all, PTOKEN_PRIVILEGES new_state,
                                DWORD length, PTOKEN_PRIVILEGES previous_state,
                                PDWORD returned_length) noexcept {
  HRESULT hr = call<AdjustTokenPrivilegesFn>(function::AdjustTokenPrivileges, token, disable_all,
                                             new_state, length, previous_state, returned_length);
  if (FAILED(hr)) return hr;
  return hresult_from_last_error();
}

namespace test_hooks {

void set_function_missing(function f, bool missing) noexcept {
  const auto slot = static_cast<size_t>(f);
  if (slot < static_cast<size_t>(function::count)) binding().hidden[slot] = missing;
}

void set_module_unavailable(bool unavailable) noexcept { binding().module_hidden = unavailable; }

void set_token_membership_answer(int answer) noexcept {
  binding().membership_answer = answer < 0 ? -1 : (answer != 0 ? 1 : 0);
}

}  // namespace test_hooks

}  // namespace nv::advapi32
