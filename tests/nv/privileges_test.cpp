#include "nv/privileges.h"
#include "wine.h"

#include <windows.h>

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "nv/advapi32.h"
#include "nv/unique_handle.h"

namespace {

namespace api = nv::advapi32;
namespace hooks = nv::advapi32::test_hooks;

// Every test leaves the binding as it found it.
class SecurityHooks : public ::testing::Test {
 protected:
  void TearDown() override {
    hooks::set_module_unavailable(false);
    hooks::set_function_missing(api::function::CheckTokenMembership, false);
    hooks::set_function_missing(api::function::AccessCheck, false);
    hooks::set_function_missing(api::function::AdjustTokenPrivileges, false);
    hooks::set_token_membership_answer(-1);
  }
};

// The system's own answer, asked directly.
bool system_says_administrator() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID raw = nullptr;
  if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &raw)) {
    ADD_FAILURE() << "AllocateAndInitializeSid " << ::GetLastError();
    return false;
  }
  std::unique_ptr<void, decltype(&::FreeSid)> sid(raw, &::FreeSid);
  BOOL member = FALSE;
  EXPECT_TRUE(::CheckTokenMembership(nullptr, sid.get(), &member));
  return member != FALSE;
}

// Whether `name` is enabled in the process token, read back independently of set_privilege.
bool privilege_enabled(const wchar_t* name) {
  HANDLE raw = nullptr;
  EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw));
  nv::unique_handle token(raw);
  LUID luid{};
  EXPECT_TRUE(::LookupPrivilegeValueW(nullptr, name, &luid));
  DWORD needed = 0;
  ::GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed);
  EXPECT_TRUE(::GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), needed, &needed));
  const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& p = privileges->Privileges[i];
    if (p.Luid.LowPart == luid.LowPart && p.Luid.HighPart == luid.HighPart) {
      return (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
  }
  ADD_FAILURE() << "privilege not in the token";
  return false;
}

using AdministratorCheck = SecurityHooks;

TEST_F(AdministratorCheck, MembershipAndAccessCheckAgreeWithTheSystem) {
  const bool expected = system_says_administrator();
  if (nv_testing::running_under_wine()) {
    EXPECT_TRUE(expected) << "Wine reports every user as an administrator";
  }
  EXPECT_EQ(nv::is_administrator(), expected);

  // Without CheckTokenMembership the access-check method must reach the same answer.
  hooks::set_function_missing(api::function::CheckTokenMembership, true);
  EXPECT_EQ(nv::is_administrator(), expected);
}

TEST_F(AdministratorCheck, StandardUserThroughTheMembershipAnswer) {
  hooks::set_token_membership_answer(0);
  EXPECT_FALSE(nv::is_administrator());
  hooks::set_token_membership_answer(1);
  EXPECT_TRUE(nv::is_administrator());
}

TEST_F(AdministratorCheck, FailuresGiveFalse) {
  // Both methods unavailable: the access check fails and leaves false.
  hooks::set_function_missing(api::function::CheckTokenMembership, true);
  hooks::set_function_missing(api::function::AccessCheck, true);
  EXPECT_FALSE(nv::is_administrator());

  hooks::set_function_missing(api::function::CheckTokenMembership, false);
  hooks::set_function_missing(api::function::AccessCheck, false);
  hooks::set_module_unavailable(true);
  EXPECT_FALSE(nv::is_administrator());
}

using Privileges = SecurityHooks;

TEST_F(Privileges, EnableDisableEnableBackupPrivilege) {
  const wchar_t* backup = L"SeBackupPrivilege";
  ASSERT_TRUE(nv::set_privilege(backup, true));
  EXPECT_TRUE(privilege_enabled(backup));
  ASSERT_TRUE(nv::set_privilege(backup, false));
  EXPECT_FALSE(privilege_enabled(backup));
  ASSERT_TRUE(nv::set_privilege(backup, true));
  EXPECT_TRUE(privilege_enabled(backup));
  // Leave the token as a fresh process has it.
  EXPECT_TRUE(nv::set_privilege(backup, false));
}

TEST_F(Privileges, FailuresGiveFalse) {
  EXPECT_FALSE(nv::set_privilege(L"SeNoSuchPrivilege", true));
  EXPECT_FALSE(nv::set_privilege(L"", false));

  hooks::set_function_missing(api::function::AdjustTokenPrivileges, true);
  EXPECT_FALSE(nv::set_privilege(L"SeBackupPrivilege", true));
  hooks::set_function_missing(api::function::AdjustTokenPrivileges, false);

  hooks::set_module_unavailable(true);
  EXPECT_FALSE(nv::set_privilege(L"SeBackupPrivilege", true));
}

using WorldDescriptor = SecurityHooks;

TEST_F(WorldDescriptor, OneEntryForEveryoneAndNothingElse) {
  for (DWORD mask : {DWORD{MUTEX_ALL_ACCESS}, DWORD{SEMAPHORE_ALL_ACCESS}, DWORD{SYNCHRONIZE}}) {
    nv::access_descriptor descriptor;
    ASSERT_EQ(nv::world_access_descriptor(mask, descriptor), S_OK);
    ASSERT_TRUE(descriptor);
    EXPECT_TRUE(::IsValidSecurityDescriptor(descriptor.get()));

    BOOL present = FALSE, defaulted = TRUE;
    PACL dacl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_FALSE(defaulted);
    ASSERT_EQ(dacl, descriptor.dacl());
    ASSERT_EQ(dacl->AceCount, 1);
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, 0, &ace));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(allowed->Mask, mask);
    auto* sid = reinterpret_cast<SID*>(&allowed->SidStart);
    EXPECT_EQ(sid->IdentifierAuthority.Value[5], 1);  // world authority
    ASSERT_EQ(sid->SubAuthorityCount, 1);
    EXPECT_EQ(sid->SubAuthority[0], DWORD{SECURITY_WORLD_RID});

    PSID owner = nullptr, group = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted));
    ASSERT_TRUE(::GetSecurityDescriptorGroup(descriptor.get(), &group, &defaulted));
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(group, nullptr);
  }
}

TEST_F(WorldDescriptor, MissingModuleIsUnexpected) {
  hooks::set_module_unavailable(true);
  nv::access_descriptor descriptor;
  EXPECT_EQ(nv::world_access_descriptor(MUTEX_ALL_ACCESS, descriptor), E_UNEXPECTED);
  EXPECT_FALSE(descriptor);
}

}  // namespace
