#include "engine/admin_folder.h"

#include <sddl.h>

#include <memory>
#include <utility>
#include <vector>

#include "engine/journal_undo.h"
#include "engine/machine_folders.h"
#include "engine/win_handle.h"
#include "nv/link_check.h"
#include "nv/system_failure.h"
#include "nv/unique_handle.h"

namespace engine {
namespace {

struct LocalFreeDeleter {
  void operator()(void* memory) const noexcept { ::LocalFree(memory); }
};
using LocalDescriptor = std::unique_ptr<void, LocalFreeDeleter>;

// The folder's access list; with `owned`, Administrators as its owner too.
std::error_code AdminDescriptor(bool owned, LocalDescriptor& descriptor) {
  const std::wstring text = (owned ? std::wstring(L"O:BA") : std::wstring()) + kAdminFolderSecurity;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &raw,
                                                              nullptr))
    return nv::last_system_failure();
  descriptor.reset(raw);
  return {};
}

// The owner of `object`, in a buffer that holds the whole descriptor; empty on failure.
std::vector<BYTE> OwnerDescriptor(HANDLE object) {
  DWORD needed = 0;
  ::GetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, nullptr, 0, &needed);
  if (needed == 0) return {};
  std::vector<BYTE> buffer(needed);
  if (!::GetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, buffer.data(), needed,
                                 &needed))
    return {};
  return buffer;
}

// The process token's user or default owner, as asked by `which`; empty on failure.
std::vector<BYTE> TokenSid(TOKEN_INFORMATION_CLASS which) {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  const win_handle token(raw);
  DWORD needed = 0;
  ::GetTokenInformation(token.get(), which, nullptr, 0, &needed);
  if (needed == 0) return {};
  std::vector<BYTE> buffer(needed);
  if (!::GetTokenInformation(token.get(), which, buffer.data(), needed, &needed)) return {};
  return buffer;
}

bool SystemOwnedByAdministrator(HANDLE object) {
  const std::vector<BYTE> descriptor = OwnerDescriptor(object);
  if (descriptor.empty()) return false;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!::GetSecurityDescriptorOwner(const_cast<BYTE*>(descriptor.data()), &owner, &defaulted) ||
      owner == nullptr)
    return false;
  if (::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
      ::IsWellKnownSid(owner, WinLocalSystemSid))
    return true;
  // An elevated run gives what it creates to Administrators; some systems (and Wine) give it to
  // the account itself.
  const std::vector<BYTE> user = TokenSid(TokenUser);
  if (!user.empty() && ::EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid))
    return true;
  const std::vector<BYTE> standard = TokenSid(TokenOwner);
  return !standard.empty() &&
         ::EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(standard.data())->Owner);
}

OwnershipQuery& ownershipQuery() {
  static OwnershipQuery query;
  return query;
}

}  // namespace

std::error_code CreateAdminFolder(const std::wstring& path) {
  LocalDescriptor descriptor;
  if (const std::error_code error = AdminDescriptor(false, descriptor)) return error;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  if (!::CreateDirectoryW(path.c_str(), &attributes)) return nv::last_system_failure();
  return {};
}

std::error_code ProtectAdminFolder(const std::wstring& path) {
  LocalDescriptor descriptor;
  if (const std::error_code error = AdminDescriptor(true, descriptor)) return error;
  // With the restore privilege the folder opens for a new owner and access list whatever its
  // current list says; FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, which is then refused.
  PrivilegeScope restore(L"SeRestorePrivilege");
  win_handle folder(::CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
  if (!folder) return nv::last_system_failure();
  const nv::file_facts facts = nv::facts_of(folder.get());
  if (facts.attributes == INVALID_FILE_ATTRIBUTES) return nv::last_system_failure();
  if (nv::is_link(facts) || !(facts.attributes & FILE_ATTRIBUTE_DIRECTORY)) return link_refused();
  if (!::SetKernelObjectSecurity(folder.get(),
                                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                 descriptor.get()))
    return nv::last_system_failure();
  return {};
}

bool OwnedByAdministrator(HANDLE object) {
  const OwnershipQuery& query = ownershipQuery();
  return query ? query(object) : SystemOwnedByAdministrator(object);
}

OwnershipQuery SetOwnershipQuery(OwnershipQuery query) {
  return std::exchange(ownershipQuery(), std::move(query));
}

}  // namespace engine
