// Run-time binding of the security functions of "advapi32.dll". Every security call of the support
// library goes through these wrappers: the module is looked up (or loaded) once, each function's
// address is resolved by name on first use and kept for the life of the process. Each wrapper
// reports its outcome as an HRESULT:
//   E_UNEXPECTED  the module cannot be loaded
//   E_NOTIMPL     the function is missing from the module
//   otherwise     S_OK, or the HRESULT of GetLastError when the function returned false
#pragma once

#include <windows.h>

namespace nv::advapi32 {

// One slot per bound function, in the order of the process-wide address table.
enum class function : int {
  AllocateAndInitializeSid,
  FreeSid,
  IsValidSid,
  GetLengthSid,
  EqualSid,
  InitializeAcl,
  AddAccessAllowedAce,
  AddAccessAllowedAceEx,
  AddAce,
  GetAce,
  GetAclInformation,
  InitializeSecurityDescriptor,
  SetSecurityDescriptorDacl,
  GetSecurityDescriptorDacl,
  GetSecurityDescriptorControl,
  SetSecurityDescriptorControl,
  GetFileSecurityW,
  SetFileSecurityW,
  OpenProcessToken,
  OpenThreadToken,
  CheckTokenMembership,
  ImpersonateSelf,
  RevertToSelf,
  AccessCheck,
  IsValidSecurityDescriptor,
  SetSecurityDescriptorOwner,
  SetSecurityDescriptorGroup,
  LookupPrivilegeValueW,
  AdjustTokenPrivileges,
  GetKernelObjectSecurity,
  SetKernelObjectSecurity,
  count
};

// A Windows error as an HRESULT: values above 0 become 0x80070000 | (error & 0xFFFF); 0 and
// values that are already negative HRESULTs are returned unchanged.
HRESULT hresult_from_error(DWORD error) noexcept;
inline HRESULT hresult_from_last_error() noexcept { return hresult_from_error(::GetLastError()); }

// The address of `f`, resolving it on first use. S_OK, E_UNEXPECTED or E_NOTIMPL.
HRESULT resolve(function f, FARPROC& address) noexcept;

HRESULT allocate_and_initialize_sid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD s0,
                                    DWORD s1, DWORD s2, DWORD s3, DWORD s4, DWORD s5, DWORD s6,
                                    DWORD s7, PSID* sid) noexcept;
// FreeSid reports failure by returning the identifier instead of null.
HRESULT free_sid(PSID sid) noexcept;
// IsValidSid and EqualSid answer a question; their false is not an error.
HRESULT is_valid_sid(PSID sid, bool& valid) noexcept;
HRESULT equal_sid(PSID a, PSID b, bool& equal) noexcept;
HRESULT get_length_sid(PSID sid, DWORD& length) noexcept;
HRESULT initialize_acl(PACL acl, DWORD length, DWORD revision) noexcept;
HRESULT add_access_allowed_ace(PACL acl, DWORD revision, DWORD mask, PSID sid) noexcept;
HRESULT add_access_allowed_ace_ex(PACL acl, DWORD revision, DWORD flags, DWORD mask,
                                  PSID sid) noexcept;
HRESULT add_ace(PACL acl, DWORD revision, DWORD start_index, LPVOID ace_list,
                DWORD ace_list_length) noexcept;
HRESULT get_ace(PACL acl, DWORD index, LPVOID* ace) noexcept;
HRESULT get_acl_information(PACL acl, LPVOID info, DWORD length,
                            ACL_INFORMATION_CLASS info_class) noexcept;
HRESULT initialize_security_descriptor(PSECURITY_DESCRIPTOR sd, DWORD revision) noexcept;
HRESULT set_security_descriptor_dacl(PSECURITY_DESCRIPTOR sd, BOOL present, PACL dacl,
                                     BOOL defaulted) noexcept;
HRESULT get_security_descriptor_dacl(PSECURITY_DESCRIPTOR sd, LPBOOL present, PACL* dacl,
                                     LPBOOL defaulted) noexcept;
HRESULT get_security_descriptor_control(PSECURITY_DESCRIPTOR sd,
                                        PSECURITY_DESCRIPTOR_CONTROL control,
                                        LPDWORD revision) noexcept;
HRESULT set_security_descriptor_control(PSECURITY_DESCRIPTOR sd,
                                        SECURITY_DESCRIPTOR_CONTROL mask,
                                        SECURITY_DESCRIPTOR_CONTROL bits) noexcept;
HRESULT get_file_security(LPCWSTR path, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR sd,
                          DWORD length, LPDWORD needed) noexcept;
HRESULT set_file_security(LPCWSTR path, SECURITY_INFORMATION info,
                          PSECURITY_DESCRIPTOR sd) noexcept;
// The same through an open handle: the object read is the object written.
HRESULT get_kernel_object_security(HANDLE object, SECURITY_INFORMATION info,
                                   PSECURITY_DESCRIPTOR sd, DWORD length, LPDWORD needed) noexcept;
HRESULT set_kernel_object_security(HANDLE object, SECURITY_INFORMATION info,
                                   PSECURITY_DESCRIPTOR sd) noexcept;

HRESULT open_process_token(HANDLE process, DWORD access, PHANDLE token) noexcept;
HRESULT open_thread_token(HANDLE thread, DWORD access, BOOL open_as_self, PHANDLE token) noexcept;
// CheckTokenMembership; `is_member` is only meaningful on success.
HRESULT check_token_membership(HANDLE token, PSID sid, bool& is_member) noexcept;
HRESULT impersonate_self(SECURITY_IMPERSONATION_LEVEL level) noexcept;
HRESULT revert_to_self() noexcept;
HRESULT access_check(PSECURITY_DESCRIPTOR sd, HANDLE token, DWORD desired,
                     PGENERIC_MAPPING mapping, PPRIVILEGE_SET privileges, LPDWORD privileges_length,
                     LPDWORD granted, LPBOOL status) noexcept;
// IsValidSecurityDescriptor answers a question; its false is not an error.
HRESULT is_valid_security_descriptor(PSECURITY_DESCRIPTOR sd, bool& valid) noexcept;
HRESULT set_security_descriptor_owner(PSECURITY_DESCRIPTOR sd, PSID owner,
                                      BOOL defaulted) noexcept;
HRESULT set_security_descriptor_group(PSECURITY_DESCRIPTOR sd, PSID group,
                                      BOOL defaulted) noexcept;
HRESULT lookup_privilege_value(LPCWSTR system, LPCWSTR name, PLUID luid) noexcept;
// AdjustTokenPrivileges succeeds only when the call returns true and GetLastError is then 0: a
// privilege the token does not hold leaves ERROR_NOT_ALL_ASSIGNED, reported as its HRESULT.
HRESULT adjust_token_privileges(HANDLE token, BOOL disable_all, PTOKEN_PRIVILEGES new_state,
                                DWORD length, PTOKEN_PRIVILEGES previous_state,
                                PDWORD returned_length) noexcept;

// Test hooks: make the binding behave as on a system where a function, or the whole module, is
// missing. Not for production code.
namespace test_hooks {
void set_function_missing(function f, bool missing) noexcept;
void set_module_unavailable(bool unavailable) noexcept;
// Replaces the membership flag of a successful CheckTokenMembership: -1 keeps the system's answer,
// 0 answers "not a member", 1 "member".
void set_token_membership_answer(int answer) noexcept;
}  // namespace test_hooks

}  // namespace nv::advapi32
