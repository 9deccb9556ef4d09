// Who may change what an elevated run reads: the owner and the access list of an object, as the
// system shows them (replaced here, for the test system cannot show others' owners or lists).
#include "machine/write_trust.h"

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "nv/product_test_support.h"
#include "nv/unique_handle.h"

namespace {

using engine::SecurityFacts;
using engine::WriteScope;

std::vector<BYTE> Sid(WELL_KNOWN_SID_TYPE type) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof sid;
  EXPECT_TRUE(::CreateWellKnownSid(type, nullptr, sid, &size));
  return {sid, sid + size};
}

struct Case {
  const char* name;
  WELL_KNOWN_SID_TYPE owner;
  std::vector<std::pair<WELL_KNOWN_SID_TYPE, ACCESS_MASK>> allowed;
  bool nullList;
  bool everything;  // trusted for WriteScope::Everything
  bool entries;     // trusted for WriteScope::Entries
};

class FactsSeam {
 public:
  explicit FactsSeam(SecurityFacts facts)
      : previous_(engine::SetSecurityQuery([facts](HANDLE) { return facts; })) {}
  ~FactsSeam() { engine::SetSecurityQuery(previous_); }

 private:
  engine::SecurityQuery previous_;
};

TEST(WriteTrust, OnlyTheSystemsOwnPrincipalsMayChangeWhatIsTrusted) {
  constexpr ACCESS_MASK kRead = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
  const Case cases[] = {
      {"administrators own, only they and SYSTEM write", WinBuiltinAdministratorsSid,
       {{WinBuiltinAdministratorsSid, FILE_ALL_ACCESS}, {WinLocalSystemSid, FILE_ALL_ACCESS},
        {WinBuiltinUsersSid, kRead}},
       false, true, true},
      {"a user owns it (a planted file)", WinBuiltinUsersSid,
       {{WinBuiltinAdministratorsSid, FILE_ALL_ACCESS}}, false, false, false},
      {"users may write data", WinLocalSystemSid,
       {{WinBuiltinUsersSid, kRead | FILE_WRITE_DATA}}, false, false, true},
      {"users may create folders (a drive's root)", WinBuiltinAdministratorsSid,
       {{WinAuthenticatedUserSid, kRead | FILE_APPEND_DATA}}, false, false, true},
      {"users may delete entries", WinBuiltinAdministratorsSid,
       {{WinBuiltinUsersSid, kRead | FILE_DELETE_CHILD}}, false, false, false},
      {"everyone may change the list", WinBuiltinAdministratorsSid,
       {{WinWorldSid, WRITE_DAC}}, false, false, false},
      {"generic all for users", WinBuiltinAdministratorsSid,
       {{WinBuiltinUsersSid, GENERIC_ALL}}, false, false, false},
      {"no access list at all", WinBuiltinAdministratorsSid, {}, true, false, false},
  };
  for (const Case& c : cases) {
    SecurityFacts facts;
    facts.known = true;
    facts.nullList = c.nullList;
    facts.owner = Sid(c.owner);
    for (const auto& [sid, mask] : c.allowed) facts.allowed.push_back({Sid(sid), mask});
    const FactsSeam seam(facts);
    EXPECT_EQ(engine::OnlyTrustedMayChange(nullptr, WriteScope::Everything), c.everything) << c.name;
    EXPECT_EQ(engine::OnlyTrustedMayChange(nullptr, WriteScope::Entries), c.entries) << c.name;
  }
  // An entry of a kind that is not understood names nobody and may allow anything.
  SecurityFacts odd;
  odd.known = true;
  odd.owner = Sid(WinBuiltinAdministratorsSid);
  odd.allowed.push_back({{}, GENERIC_ALL});
  const FactsSeam seam(odd);
  EXPECT_FALSE(engine::OnlyTrustedMayChange(nullptr, WriteScope::Entries));
}

// The test system's own folders pass the real check: whoever may write its system folder is
// trusted, and a private folder made by this process is as trusted as the system.
TEST(WriteTrust, APrivateFolderOfThisProcessIsTrustedAndAPathThroughAFileIsNot) {
  const nv_test::temp_folder folder;
  EXPECT_FALSE(engine::CheckTrustedPath(folder.path().wstring()));
  const std::wstring file = (folder.path() / L"file.txt").wstring();
  nv::unique_handle(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  EXPECT_FALSE(engine::CheckTrustedPath(file));
  EXPECT_EQ(engine::CheckTrustedPath(L"relative\\path").value(), ERROR_BAD_PATHNAME);
}

}  // namespace
