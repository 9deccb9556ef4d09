#include "nv/security.h"

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "nv/advapi32.h"

namespace {

namespace api = nv::advapi32;

bool running_under_wine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// "S-1-5-32-545" form of an identifier.
std::wstring sid_text(PSID sid) {
  auto* s = static_cast<SID*>(sid);
  unsigned long long authority = 0;
  for (BYTE b : s->IdentifierAuthority.Value) authority = (authority << 8) | b;
  std::wstring text = L"S-" + std::to_wstring(s->Revision) + L"-" + std::to_wstring(authority);
  for (BYTE i = 0; i < s->SubAuthorityCount; ++i) text += L"-" + std::to_wstring(s->SubAuthority[i]);
  return text;
}

struct AceView {
  BYTE type;
  BYTE flags;
  DWORD mask;
  std::wstring sid;
  bool operator==(const AceView&) const = default;
};

std::vector<AceView> entries_of(PSECURITY_DESCRIPTOR sd) {
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  EXPECT_TRUE(::GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted));
  EXPECT_TRUE(present);
  std::vector<AceView> result;
  if (!dacl) return result;
  ACL_SIZE_INFORMATION info{};
  EXPECT_TRUE(::GetAclInformation(dacl, &info, sizeof(info), AclSizeInformation));
  for (DWORD i = 0; i < info.AceCount; ++i) {
    void* ace = nullptr;
    EXPECT_TRUE(::GetAce(dacl, i, &ace));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    result.push_back({allowed->Header.AceType, allowed->Header.AceFlags, allowed->Mask,
                      sid_text(&allowed->SidStart)});
  }
  return result;
}

SECURITY_DESCRIPTOR_CONTROL control_of(PSECURITY_DESCRIPTOR sd) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  EXPECT_TRUE(::GetSecurityDescriptorControl(sd, &control, &revision));
  return control;
}

// A well-known identifier parsed from its parts, independent of the code under test.
struct TestSid {
  std::vector<BYTE> bytes;
  TestSid(BYTE authority, std::initializer_list<DWORD> subs) : bytes(GetSidLengthRequired(subs.size())) {
    SID_IDENTIFIER_AUTHORITY auth = {{0, 0, 0, 0, 0, authority}};
    EXPECT_TRUE(::InitializeSid(bytes.data(), &auth, static_cast<BYTE>(subs.size())));
    DWORD i = 0;
    for (DWORD s : subs) *::GetSidSubAuthority(bytes.data(), i++) = s;
  }
  PSID get() { return bytes.data(); }
};

TestSid users_sid() { return TestSid(5, {32, 545}); }

// An in-memory descriptor whose DACL holds the given entries, appended in order.
class OldDescriptor {
 public:
  struct Entry {
    TestSid sid;
    DWORD mask;
    BYTE flags;
  };
  explicit OldDescriptor(std::vector<Entry> entries, SECURITY_DESCRIPTOR_CONTROL control = 0)
      : entries_(std::move(entries)), acl_(1024) {
    EXPECT_TRUE(::InitializeAcl(acl(), static_cast<DWORD>(acl_.size()), ACL_REVISION));
    for (Entry& e : entries_)
      EXPECT_TRUE(::AddAccessAllowedAceEx(acl(), ACL_REVISION, e.flags, e.mask, e.sid.get()));
    EXPECT_TRUE(::InitializeSecurityDescriptor(&sd_, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_TRUE(::SetSecurityDescriptorDacl(&sd_, TRUE, acl(), FALSE));
    if (control) {
      EXPECT_TRUE(::SetSecurityDescriptorControl(&sd_, control, control));
    }
  }
  PACL acl() { return reinterpret_cast<PACL>(acl_.data()); }
  PSECURITY_DESCRIPTOR get() { return &sd_; }

 private:
  std::vector<Entry> entries_;
  std::vector<BYTE> acl_;
  SECURITY_DESCRIPTOR sd_{};
};

// Restores the binding after a test that hides functions.
struct BindingGuard {
  ~BindingGuard() {
    for (int f = 0; f < static_cast<int>(api::function::count); ++f)
      api::test_hooks::set_function_missing(static_cast<api::function>(f), false);
    api::test_hooks::set_module_unavailable(false);
  }
};

constexpr DWORD kAll = 0x001F01FF;
constexpr BYTE kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
const std::wstring kUsers = L"S-1-5-32-545";

std::vector<AceView> build(PSECURITY_DESCRIPTOR old, DWORD mask, BYTE flags,
                           nv::owned_descriptor& result) {
  TestSid users = users_sid();
  EXPECT_EQ(nv::build_users_descriptor(old, users.get(), mask, flags, result), S_OK);
  if (!result.get()) return {};
  return entries_of(result.get());
}

TEST(WellKnownSid, BuildsTheThreeIdentifiersOfTheTable) {
  const std::pair<nv::sid_kind, std::wstring> table[] = {
      {nv::sid_kind::everyone, L"S-1-1-0"},
      {nv::sid_kind::administrators, L"S-1-5-32-544"},
      {nv::sid_kind::users, L"S-1-5-32-545"},
  };
  for (const auto& [kind, text] : table) {
    nv::unique_sid sid;
    ASSERT_EQ(nv::well_known_sid(kind, sid), S_OK);
    ASSERT_TRUE(sid);
    EXPECT_TRUE(::IsValidSid(sid.get()));
    EXPECT_EQ(sid_text(sid.get()), text);
  }
  nv::unique_sid none;
  EXPECT_EQ(nv::well_known_sid(static_cast<nv::sid_kind>(3), none), E_INVALIDARG);
  EXPECT_FALSE(none);
}

TEST(UsersDescriptor, PlacesUsersAfterExplicitAndBeforeInheritedEntries) {
  OldDescriptor old({
      {TestSid(5, {32, 544}), kAll, kInherit},
      {TestSid(1, {0}), FILE_GENERIC_READ, 0},
      {TestSid(5, {18}), kAll, INHERITED_ACE | kInherit},
      {TestSid(5, {32, 544}), kAll, INHERITED_ACE | kInherit},
      {TestSid(3, {0}), GENERIC_ALL, INHERITED_ACE | INHERIT_ONLY_ACE | kInherit},
      {TestSid(5, {11}), FILE_GENERIC_READ, INHERITED_ACE},
  });
  nv::owned_descriptor first;
  const auto entries = build(old.get(), kAll, kInherit, first);
  const std::vector<AceView> expected = {
      {ACCESS_ALLOWED_ACE_TYPE, kInherit, kAll, L"S-1-5-32-544"},
      {ACCESS_ALLOWED_ACE_TYPE, 0, FILE_GENERIC_READ, L"S-1-1-0"},
      {ACCESS_ALLOWED_ACE_TYPE, kInherit, kAll, kUsers},
      {ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE | kInherit, kAll, L"S-1-5-18"},
      {ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE | kInherit, kAll, L"S-1-5-32-544"},
      {ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE | INHERIT_ONLY_ACE | kInherit, GENERIC_ALL,
       L"S-1-3-0"},
      {ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, FILE_GENERIC_READ, L"S-1-5-11"},
  };
  EXPECT_EQ(entries, expected);

  // Granting again on the result replaces the Users entry instead of adding one.
  nv::owned_descriptor second;
  EXPECT_EQ(build(first.get(), kAll, kInherit, second), expected);
}

TEST(UsersDescriptor, DropsEarlierUsersEntriesExplicitOrInherited) {
  OldDescriptor old({
      {TestSid(5, {32, 545}), FILE_GENERIC_READ, 0},
      {TestSid(5, {32, 544}), kAll, 0},
      {TestSid(5, {32, 545}), FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, INHERITED_ACE | kInherit},
      {TestSid(5, {18}), kAll, INHERITED_ACE},
  });
  nv::owned_descriptor result;
  const std::vector<AceView> expected = {
      {ACCESS_ALLOWED_ACE_TYPE, 0, kAll, L"S-1-5-32-544"},
      {ACCESS_ALLOWED_ACE_TYPE, 0, 0x0013019F, kUsers},
      {ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, kAll, L"S-1-5-18"},
  };
  EXPECT_EQ(build(old.get(), 0x0013019F, 0, result), expected);
}

TEST(UsersDescriptor, MissingOrNullDaclGivesUsersAlone) {
  const std::vector<AceView> users_alone = {{ACCESS_ALLOWED_ACE_TYPE, kInherit, kAll, kUsers}};

  SECURITY_DESCRIPTOR without_dacl{};
  ASSERT_TRUE(::InitializeSecurityDescriptor(&without_dacl, SECURITY_DESCRIPTOR_REVISION));
  nv::owned_descriptor a;
  EXPECT_EQ(build(&without_dacl, kAll, kInherit, a), users_alone);

  SECURITY_DESCRIPTOR null_dacl{};
  ASSERT_TRUE(::InitializeSecurityDescriptor(&null_dacl, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&null_dacl, TRUE, nullptr, FALSE));
  nv::owned_descriptor b;
  EXPECT_EQ(build(&null_dacl, kAll, kInherit, b), users_alone);

  nv::owned_descriptor c;
  EXPECT_EQ(build(nullptr, kAll, kInherit, c), users_alone);
}

TEST(UsersDescriptor, CarriesAutoInheritanceAndProtection) {
  struct Case {
    SECURITY_DESCRIPTOR_CONTROL old_bits;
    SECURITY_DESCRIPTOR_CONTROL expected_bits;
  };
  const SECURITY_DESCRIPTOR_CONTROL watched =
      SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED | SE_DACL_PROTECTED;
  const Case cases[] = {
      {0, 0},
      {SE_DACL_AUTO_INHERITED, SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED},
      {SE_DACL_PROTECTED, SE_DACL_PROTECTED},
      {SE_DACL_AUTO_INHERITED | SE_DACL_PROTECTED,
       SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED},
      {SE_DACL_AUTO_INHERIT_REQ, 0},
  };
  for (const Case& c : cases) {
    OldDescriptor old({{TestSid(5, {18}), kAll, INHERITED_ACE}}, c.old_bits);
    ASSERT_EQ(control_of(old.get()) & watched, c.old_bits);
    nv::owned_descriptor result;
    build(old.get(), kAll, kInherit, result);
    ASSERT_TRUE(result.get());
    EXPECT_EQ(control_of(result.get()) & watched, c.expected_bits) << std::hex << c.old_bits;
    EXPECT_TRUE(control_of(result.get()) & SE_DACL_PRESENT);
  }
}

TEST(UsersDescriptor, RejectsAnEntryWithAnInvalidIdentifier) {
  OldDescriptor old({{TestSid(5, {32, 544}), kAll, 0}, {TestSid(5, {18}), kAll, 0}});
  void* ace = nullptr;
  ASSERT_TRUE(::GetAce(old.acl(), 1, &ace));
  static_cast<SID*>(static_cast<void*>(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart))
      ->Revision = 7;
  TestSid users = users_sid();
  nv::owned_descriptor result;
  EXPECT_EQ(nv::build_users_descriptor(old.get(), users.get(), kAll, kInherit, result),
            E_INVALIDARG);
  EXPECT_EQ(result.get(), nullptr);
}

TEST(SecurityBinding, SubstitutesForMissingFunctions) {
  BindingGuard guard;
  OldDescriptor old({{TestSid(5, {32, 544}), kAll, 0}, {TestSid(5, {18}), kAll, INHERITED_ACE}},
                    SE_DACL_AUTO_INHERITED);

  // Without AddAccessAllowedAceEx the entry is added without inheritance flags.
  api::test_hooks::set_function_missing(api::function::AddAccessAllowedAceEx, true);
  nv::owned_descriptor plain;
  const std::vector<AceView> expected = {
      {ACCESS_ALLOWED_ACE_TYPE, 0, kAll, L"S-1-5-32-544"},
      {ACCESS_ALLOWED_ACE_TYPE, 0, kAll, kUsers},
      {ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, kAll, L"S-1-5-18"},
  };
  EXPECT_EQ(build(old.get(), kAll, kInherit, plain), expected);
  api::test_hooks::set_function_missing(api::function::AddAccessAllowedAceEx, false);

  // Without SetSecurityDescriptorControl the control bits are left as they are.
  api::test_hooks::set_function_missing(api::function::SetSecurityDescriptorControl, true);
  nv::owned_descriptor uncontrolled;
  EXPECT_EQ(build(old.get(), kAll, kInherit, uncontrolled).size(), 3u);
  ASSERT_TRUE(uncontrolled.get());
  EXPECT_EQ(control_of(uncontrolled.get()) & (SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED),
            0);
}

TEST(SecurityBinding, MissingFunctionOrModuleFails) {
  BindingGuard guard;
  OldDescriptor old({{TestSid(5, {18}), kAll, 0}});
  TestSid users = users_sid();

  // A function without substitute: its call reports E_NOTIMPL.
  api::test_hooks::set_function_missing(api::function::GetAce, true);
  nv::owned_descriptor result;
  EXPECT_EQ(nv::build_users_descriptor(old.get(), users.get(), kAll, kInherit, result), E_NOTIMPL);
  EXPECT_EQ(result.get(), nullptr);
  api::test_hooks::set_function_missing(api::function::GetAce, false);

  wchar_t temp[MAX_PATH] = {};
  ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
  api::test_hooks::set_module_unavailable(true);
  nv::unique_sid sid;
  EXPECT_EQ(nv::well_known_sid(nv::sid_kind::users, sid), E_UNEXPECTED);
  EXPECT_EQ(nv::build_users_descriptor(old.get(), users.get(), kAll, kInherit, result),
            E_UNEXPECTED);
  EXPECT_FALSE(nv::grant_users_access(temp, kAll, kInherit));
}

TEST(SecurityBinding, FailedCallsReportTheLastErrorAsHresult) {
  EXPECT_EQ(api::hresult_from_error(ERROR_ACCESS_DENIED), static_cast<HRESULT>(0x80070005));
  EXPECT_EQ(api::hresult_from_error(0), S_OK);
  EXPECT_EQ(api::hresult_from_error(0x80004005), static_cast<HRESULT>(0x80004005));
  EXPECT_EQ(api::hresult_from_error(0x12345), static_cast<HRESULT>(0x80072345));

  // A real failing call goes through the same conversion.
  DWORD needed = 0;
  EXPECT_EQ(api::get_file_security(L"C:\\nv-missing-folder\\nothing", DACL_SECURITY_INFORMATION,
                                   nullptr, 0, &needed),
            HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
}

class GrantOnFile : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
    folder_ = std::filesystem::path(temp) /
              (L"nv-grant-" + std::to_wstring(::GetCurrentProcessId()));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  std::vector<AceView> written() {
    DWORD needed = 0;
    ::GetFileSecurityW(folder_.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    EXPECT_TRUE(::GetFileSecurityW(folder_.c_str(), DACL_SECURITY_INFORMATION, buffer.data(),
                                   needed, &needed));
    return entries_of(buffer.data());
  }
  std::filesystem::path folder_;
};

TEST_F(GrantOnFile, NonExistentPathFails) {
  EXPECT_FALSE(nv::grant_users_access((folder_ / L"missing").native(), kAll, kInherit));
  EXPECT_FALSE(std::filesystem::exists(folder_ / L"missing"));
}

TEST_F(GrantOnFile, WritesOneUsersEntryOnTheFolder) {
  ASSERT_TRUE(nv::grant_users_access(folder_.native(), kAll, kInherit));
  ASSERT_TRUE(nv::grant_users_access(folder_.native(), kAll, kInherit));
  if (running_under_wine())
    GTEST_SKIP() << "file DACLs do not persist under Wine: SetFileSecurityW drops added entries";
  const auto entries = written();
  size_t users = 0;
  bool seen_inherited = false;
  for (const AceView& e : entries) {
    if (e.sid == kUsers) {
      ++users;
      EXPECT_EQ(e.mask, kAll);
      EXPECT_EQ(e.flags, kInherit);
      EXPECT_FALSE(seen_inherited) << "Users entry after an inherited one";
    }
    if (e.flags & INHERITED_ACE) seen_inherited = true;
    else EXPECT_FALSE(seen_inherited) << "explicit entry after an inherited one";
  }
  EXPECT_EQ(users, 1u);
}

}  // namespace
