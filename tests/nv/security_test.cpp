#include "nv/security.h"
#include "wine.h"

#include <windows.h>
#include <sddl.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "nv/advapi32.h"

namespace {

namespace api = nv::advapi32;

constexpr DWORD kAll = 0x001F01FF;
constexpr BYTE kOiCi = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr BYTE kInh = INHERITED_ACE;
constexpr SECURITY_DESCRIPTOR_CONTROL kAutoBits = SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED;

// "S-1-5-32-545" form of an identifier.
std::wstring sid_text(PSID sid) {
  auto* s = static_cast<SID*>(sid);
  std::wstring text = L"S-1-" + std::to_wstring(s->IdentifierAuthority.Value[5]);
  for (BYTE i = 0; i < s->SubAuthorityCount; ++i) text += L"-" + std::to_wstring(s->SubAuthority[i]);
  return text;
}

// One DACL entry: identifier text, access mask, flags.
struct Ace {
  std::wstring sid;
  DWORD mask;
  BYTE flags;
  bool operator==(const Ace&) const = default;
  friend std::ostream& operator<<(std::ostream& os, const Ace& a) {
    return os << std::string(a.sid.begin(), a.sid.end()) << "/" << std::hex << a.mask << "/"
              << int(a.flags);
  }
};

std::vector<Ace> entries_of(PSECURITY_DESCRIPTOR sd) {
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  EXPECT_TRUE(::GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) && present);
  ACL_SIZE_INFORMATION info{};
  if (dacl) ::GetAclInformation(dacl, &info, sizeof(info), AclSizeInformation);
  std::vector<Ace> result;
  for (DWORD i = 0; i < info.AceCount; ++i) {
    void* ace = nullptr;
    EXPECT_TRUE(::GetAce(dacl, i, &ace));
    auto* a = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    result.push_back({sid_text(&a->SidStart), a->Mask, a->Header.AceFlags});
  }
  return result;
}

SECURITY_DESCRIPTOR_CONTROL control_of(PSECURITY_DESCRIPTOR sd) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  EXPECT_TRUE(::GetSecurityDescriptorControl(sd, &control, &revision));
  return control & (kAutoBits | SE_DACL_PROTECTED);
}

// An in-memory descriptor holding `entries` (identifiers "S-1-<authority>-<sub>..." with one
// authority byte), built with the system's functions directly.
class Descriptor {
 public:
  explicit Descriptor(const std::vector<Ace>& entries, SECURITY_DESCRIPTOR_CONTROL control = 0)
      : acl_(1024) {
    auto* acl = reinterpret_cast<PACL>(acl_.data());
    EXPECT_TRUE(::InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION));
    for (const Ace& e : entries) {
      PSID raw = nullptr;
      EXPECT_TRUE(::ConvertStringSidToSidW(e.sid.c_str(), &raw));
      std::unique_ptr<void, decltype(&::LocalFree)> sid(raw, &::LocalFree);
      EXPECT_TRUE(::AddAccessAllowedAceEx(acl, ACL_REVISION, e.flags, e.mask, sid.get()));
    }
    EXPECT_TRUE(::InitializeSecurityDescriptor(&sd_, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_TRUE(::SetSecurityDescriptorDacl(&sd_, TRUE, acl, FALSE));
    if (control) {
      EXPECT_TRUE(::SetSecurityDescriptorControl(&sd_, control, control)) << control;
    }
  }
  PACL acl() { return reinterpret_cast<PACL>(acl_.data()); }
  PSECURITY_DESCRIPTOR get() { return &sd_; }

 private:
  std::vector<BYTE> acl_;
  SECURITY_DESCRIPTOR sd_{};
};

HRESULT build(PSECURITY_DESCRIPTOR old, DWORD mask, BYTE flags, nv::owned_descriptor& result) {
  nv::unique_sid users;
  EXPECT_EQ(nv::well_known_sid(nv::sid_kind::users, users), S_OK);
  return nv::build_users_descriptor(old, users.get(), mask, flags, result);
}

// Restores the binding after a test that hides functions.
struct BindingGuard {
  ~BindingGuard() {
    for (int f = 0; f < static_cast<int>(api::function::count); ++f)
      api::test_hooks::set_function_missing(static_cast<api::function>(f), false);
    api::test_hooks::set_module_unavailable(false);
  }
};

TEST(WellKnownSid, BuildsTheThreeIdentifiersOfTheTable) {
  const std::pair<nv::sid_kind, std::wstring> table[] = {{nv::sid_kind::everyone, L"S-1-1-0"},
                                                         {nv::sid_kind::administrators, L"S-1-5-32-544"},
                                                         {nv::sid_kind::users, L"S-1-5-32-545"}};
  for (const auto& [kind, text] : table) {
    nv::unique_sid sid;
    ASSERT_EQ(nv::well_known_sid(kind, sid), S_OK);
    EXPECT_TRUE(::IsValidSid(sid.get()));
    EXPECT_EQ(sid_text(sid.get()), text);
  }
  nv::unique_sid none;
  EXPECT_EQ(nv::well_known_sid(static_cast<nv::sid_kind>(3), none), E_INVALIDARG);
}

TEST(UsersDescriptor, OrdersEntriesAndReplacesEveryUsersEntry) {
  struct Case {
    std::vector<Ace> old;
    DWORD mask;
    BYTE flags;
    std::vector<Ace> expected;
  };
  const Case cases[] = {
      // Two explicit and four inherited entries, none for Users.
      {{{L"S-1-5-32-544", kAll, kOiCi}, {L"S-1-1-0", 0x120089, 0}, {L"S-1-5-18", kAll, kInh | kOiCi},
        {L"S-1-5-32-544", kAll, kInh | kOiCi}, {L"S-1-3-0", GENERIC_ALL, kInh | INHERIT_ONLY_ACE | kOiCi},
        {L"S-1-5-11", 0x120089, kInh}},
       kAll, kOiCi,
       {{L"S-1-5-32-544", kAll, kOiCi}, {L"S-1-1-0", 0x120089, 0}, {L"S-1-5-32-545", kAll, kOiCi},
        {L"S-1-5-18", kAll, kInh | kOiCi}, {L"S-1-5-32-544", kAll, kInh | kOiCi},
        {L"S-1-3-0", GENERIC_ALL, kInh | INHERIT_ONLY_ACE | kOiCi}, {L"S-1-5-11", 0x120089, kInh}}},
      // Earlier Users entries, explicit and inherited, give way to the one new entry; flags 0.
      {{{L"S-1-5-32-545", 0x120089, 0}, {L"S-1-5-32-544", kAll, 0},
        {L"S-1-5-32-545", 0x1200A9, kInh | kOiCi}, {L"S-1-5-18", kAll, kInh}},
       0x0013019F, 0,
       {{L"S-1-5-32-544", kAll, 0}, {L"S-1-5-32-545", 0x0013019F, 0}, {L"S-1-5-18", kAll, kInh}}},
  };
  for (const Case& c : cases) {
    Descriptor old(c.old);
    nv::owned_descriptor first, second;
    ASSERT_EQ(build(old.get(), c.mask, c.flags, first), S_OK);
    EXPECT_EQ(entries_of(first.get()), c.expected);
    // Granting again on the result gives the same list.
    ASSERT_EQ(build(first.get(), c.mask, c.flags, second), S_OK);
    EXPECT_EQ(entries_of(second.get()), c.expected);
  }
}

TEST(UsersDescriptor, MissingOrNullDaclGivesUsersAlone) {
  const std::vector<Ace> alone = {{L"S-1-5-32-545", kAll, kOiCi}};
  SECURITY_DESCRIPTOR no_dacl{}, null_dacl{};
  ASSERT_TRUE(::InitializeSecurityDescriptor(&no_dacl, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(::InitializeSecurityDescriptor(&null_dacl, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&null_dacl, TRUE, nullptr, FALSE));
  for (PSECURITY_DESCRIPTOR old : {PSECURITY_DESCRIPTOR(&no_dacl), PSECURITY_DESCRIPTOR(&null_dacl)}) {
    nv::owned_descriptor result;
    ASSERT_EQ(build(old, kAll, kOiCi, result), S_OK);
    EXPECT_EQ(entries_of(result.get()), alone);
  }
}

TEST(UsersDescriptor, CarriesAutoInheritanceOrProtection) {
  const std::pair<SECURITY_DESCRIPTOR_CONTROL, SECURITY_DESCRIPTOR_CONTROL> cases[] = {
      {0, 0},
      {SE_DACL_AUTO_INHERITED, kAutoBits},
      {SE_DACL_PROTECTED, SE_DACL_PROTECTED},
      {SE_DACL_AUTO_INHERITED | SE_DACL_PROTECTED, kAutoBits},
      {SE_DACL_AUTO_INHERIT_REQ, 0},
  };
  for (const auto& [in, out] : cases) {
    Descriptor old({{L"S-1-5-18", kAll, kInh}}, in);
    nv::owned_descriptor result;
    ASSERT_EQ(build(old.get(), kAll, kOiCi, result), S_OK);
    EXPECT_EQ(control_of(result.get()), out) << std::hex << in;
  }
}

TEST(UsersDescriptor, RejectsAnEntryWithAnInvalidIdentifier) {
  Descriptor old({{L"S-1-5-32-544", kAll, 0}, {L"S-1-5-18", kAll, 0}});
  void* ace = nullptr;
  ASSERT_TRUE(::GetAce(old.acl(), 1, &ace));
  reinterpret_cast<SID*>(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart)->Revision = 7;
  nv::owned_descriptor result;
  EXPECT_EQ(build(old.get(), kAll, kOiCi, result), E_INVALIDARG);
  EXPECT_EQ(result.get(), nullptr);
}

TEST(SecurityBinding, MissingFunctionsUseTheirSubstitutesOrFail) {
  BindingGuard guard;
  Descriptor old({{L"S-1-5-32-544", kAll, 0}, {L"S-1-5-18", kAll, kInh}}, SE_DACL_AUTO_INHERITED);

  // Without AddAccessAllowedAceEx the entry is added without inheritance flags.
  api::test_hooks::set_function_missing(api::function::AddAccessAllowedAceEx, true);
  nv::owned_descriptor plain;
  ASSERT_EQ(build(old.get(), kAll, kOiCi, plain), S_OK);
  EXPECT_EQ(entries_of(plain.get()),
            (std::vector<Ace>{{L"S-1-5-32-544", kAll, 0}, {L"S-1-5-32-545", kAll, 0}, {L"S-1-5-18", kAll, kInh}}));

  // Without SetSecurityDescriptorControl the control bits stay at their defaults.
  api::test_hooks::set_function_missing(api::function::SetSecurityDescriptorControl, true);
  nv::owned_descriptor uncontrolled;
  ASSERT_EQ(build(old.get(), kAll, kOiCi, uncontrolled), S_OK);
  EXPECT_EQ(control_of(uncontrolled.get()), 0);

  // A function without substitute fails the build.
  api::test_hooks::set_function_missing(api::function::GetAce, true);
  nv::owned_descriptor failed;
  EXPECT_EQ(build(old.get(), kAll, kOiCi, failed), E_NOTIMPL);
}

TEST(SecurityBinding, UnavailableModuleAndFailedCalls) {
  BindingGuard guard;
  wchar_t temp[MAX_PATH] = {};
  ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
  // A failed call reports its last error as an HRESULT.
  DWORD needed = 0;
  EXPECT_EQ(api::get_file_security(L"C:\\nv-missing\\x", DACL_SECURITY_INFORMATION, nullptr, 0, &needed),
            HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));

  api::test_hooks::set_module_unavailable(true);
  nv::unique_sid sid;
  EXPECT_EQ(nv::well_known_sid(nv::sid_kind::users, sid), E_UNEXPECTED);
  EXPECT_FALSE(nv::grant_users_access(temp, kAll, kOiCi));
}

TEST(GrantUsersAccess, OnRealFolders) {
  wchar_t temp[MAX_PATH] = {};
  ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
  const auto folder = std::filesystem::path(temp) / (L"nv-grant-" + std::to_wstring(::GetCurrentProcessId()));
  std::filesystem::create_directories(folder);
  struct Remove {
    std::filesystem::path p;
    ~Remove() { std::error_code ec; std::filesystem::remove_all(p, ec); }
  } remove{folder};

  EXPECT_FALSE(nv::grant_users_access((folder / L"missing").native(), kAll, kOiCi));
  EXPECT_FALSE(std::filesystem::exists(folder / L"missing"));
  ASSERT_TRUE(nv::grant_users_access(folder.native(), kAll, kOiCi));
  ASSERT_TRUE(nv::grant_users_access(folder.native(), kAll, kOiCi));

  if (nv_testing::running_under_wine())
    GTEST_SKIP() << "file DACLs do not persist under Wine: SetFileSecurityW drops added entries";
  DWORD size = 0;
  ::GetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  std::vector<BYTE> sd(size);
  ASSERT_TRUE(::GetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION, sd.data(), size, &size));
  size_t users = 0;
  bool inherited_seen = false;
  for (const Ace& e : entries_of(sd.data())) {
    if (e.sid == L"S-1-5-32-545") {
      ++users;
      EXPECT_EQ(e, (Ace{L"S-1-5-32-545", kAll, kOiCi}));
    }
    EXPECT_TRUE((e.flags & kInh) || !inherited_seen) << "explicit entry after an inherited one";
    inherited_seen = inherited_seen || (e.flags & kInh);
  }
  EXPECT_EQ(users, 1u);
}

}  // namespace
