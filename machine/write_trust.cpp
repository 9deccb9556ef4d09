#include "machine/write_trust.h"

#include <sddl.h>

#include <cwctype>
#include <memory>
#include <utility>

#include "machine/machine_folders.h"
#include "nv/link_check.h"
#include "nv/system_failure.h"
#include "nv/unique_handle.h"

namespace engine {
namespace {

// Rights that change an object in any way: its data or entries, attributes, extended
// attributes, access list, owner, name or existence.
constexpr ACCESS_MASK kChangeEverything = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                          FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE |
                                          WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// Rights that take away or replace a folder's entries (creating new ones is not among them).
constexpr ACCESS_MASK kChangeEntries =
    FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

// NT SERVICE\TrustedInstaller, the owner of the system's own files.
constexpr wchar_t kTrustedInstaller[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

std::vector<BYTE> SidBytes(const void* sid) {
  if (!sid || !::IsValidSid(const_cast<void*>(sid))) return {};
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return {bytes, bytes + ::GetLengthSid(const_cast<void*>(sid))};
}

SecurityFacts SystemFactsOf(HANDLE object) {
  SecurityFacts facts;
  const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  ::GetKernelObjectSecurity(object, wanted, nullptr, 0, &needed);
  if (needed == 0) return facts;
  std::vector<BYTE> descriptor(needed);
  if (!::GetKernelObjectSecurity(object, wanted, descriptor.data(), needed, &needed)) return facts;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  BOOL present = FALSE;
  PACL list = nullptr;
  if (!::GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted) ||
      !::GetSecurityDescriptorDacl(descriptor.data(), &present, &list, &defaulted))
    return facts;
  facts.owner = SidBytes(owner);
  facts.nullList = !present || list == nullptr;
  if (!facts.nullList) {
    for (DWORD i = 0; i < list->AceCount; ++i) {
      void* entry = nullptr;
      if (!::GetAce(list, i, &entry)) return facts;
      const auto* header = static_cast<const ACE_HEADER*>(entry);
      if (header->AceFlags & INHERIT_ONLY_ACE) continue;  // only for what is created below
      switch (header->AceType) {
        case ACCESS_DENIED_ACE_TYPE:
        case ACCESS_DENIED_OBJECT_ACE_TYPE:
        case ACCESS_DENIED_CALLBACK_ACE_TYPE:
        case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
          continue;  // a denial only takes rights away
        case ACCESS_ALLOWED_ACE_TYPE: {
          const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
          facts.allowed.push_back({SidBytes(&allowed->SidStart), allowed->Mask});
          break;
        }
        default:
          // An entry of another kind may allow anything to anyone: nobody is named.
          facts.allowed.push_back({{}, GENERIC_ALL});
      }
    }
  }
  facts.known = !facts.owner.empty();
  return facts;
}

SecurityQuery& securityQuery() {
  static SecurityQuery query;
  return query;
}

bool Equal(const std::vector<BYTE>& sid, const void* other) {
  return !sid.empty() && ::EqualSid(const_cast<BYTE*>(sid.data()), const_cast<void*>(other));
}

// Administrators, SYSTEM, TrustedInstaller, and the owner and writers of System32: whoever may
// change the system folder is trusted with nothing more by being trusted here.
const std::vector<std::vector<BYTE>>& TrustedPrincipals() {
  static const std::vector<std::vector<BYTE>> principals = [] {
    std::vector<std::vector<BYTE>> found;
    for (const WELL_KNOWN_SID_TYPE type : {WinBuiltinAdministratorsSid, WinLocalSystemSid}) {
      BYTE sid[SECURITY_MAX_SID_SIZE];
      DWORD size = sizeof sid;
      if (::CreateWellKnownSid(type, nullptr, sid, &size)) found.push_back(SidBytes(sid));
    }
    PSID installer = nullptr;
    if (::ConvertStringSidToSidW(kTrustedInstaller, &installer)) {
      found.push_back(SidBytes(installer));
      ::LocalFree(installer);
    }
    wchar_t system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return found;
    const nv::unique_handle folder(::CreateFileW(
        system, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder) return found;
    const SecurityFacts facts = SystemFactsOf(folder.get());
    if (!facts.known || facts.nullList) return found;
    found.push_back(facts.owner);
    for (const SecurityFacts::Allowed& entry : facts.allowed)
      if (!entry.sid.empty() && (entry.mask & kChangeEverything)) found.push_back(entry.sid);
    return found;
  }();
  return principals;
}

bool TrustedBytes(const std::vector<BYTE>& sid) {
  if (sid.empty()) return false;
  for (const std::vector<BYTE>& trusted : TrustedPrincipals())
    if (Equal(sid, trusted.data())) return true;
  return false;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

SecurityFacts SecurityFactsOf(HANDLE object) {
  const SecurityQuery& query = securityQuery();
  return query ? query(object) : SystemFactsOf(object);
}

SecurityQuery SetSecurityQuery(SecurityQuery query) {
  return std::exchange(securityQuery(), std::move(query));
}

bool IsTrustedPrincipal(const void* sid) { return TrustedBytes(SidBytes(sid)); }

bool OnlyTrustedMayChange(HANDLE object, WriteScope scope) {
  const SecurityFacts facts = SecurityFactsOf(object);
  if (!facts.known || facts.nullList || !TrustedBytes(facts.owner)) return false;
  const ACCESS_MASK closed = scope == WriteScope::Everything ? kChangeEverything : kChangeEntries;
  for (const SecurityFacts::Allowed& entry : facts.allowed)
    if ((entry.mask & closed) && !TrustedBytes(entry.sid)) return false;
  return true;
}

std::error_code untrusted_refused() { return nv::system_failure(ERROR_ACCESS_DENIED); }

std::error_code CheckTrustedPath(const std::wstring& path) {
  if (path.size() < 3 || !std::iswalpha(path[0]) || path[1] != L':' || !IsSeparator(path[2]))
    return nv::system_failure(ERROR_BAD_PATHNAME);
  for (std::size_t end = 3; end <= path.size(); ++end) {
    if (end < path.size() && !IsSeparator(path[end])) continue;
    if (end > 3 && IsSeparator(path[end - 1])) continue;  // a doubled or trailing separator
    const std::wstring element = path.substr(0, end);
    const nv::unique_handle object(::CreateFileW(
        element.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!object) return nv::last_system_failure();
    if (nv::is_link(nv::facts_of(object.get()))) return link_refused();
    const WriteScope scope = end == 3 ? WriteScope::Entries : WriteScope::Everything;
    if (!OnlyTrustedMayChange(object.get(), scope)) return untrusted_refused();
  }
  return {};
}

}  // namespace engine
