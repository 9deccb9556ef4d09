#include "machine/admin_folder.h"

#include <windows.h>
#include <sddl.h>

#include <memory>

#include "nv/system_failure.h"

namespace engine {
namespace {

struct LocalFreeDeleter {
  void operator()(void* memory) const noexcept { ::LocalFree(memory); }
};
using LocalDescriptor = std::unique_ptr<void, LocalFreeDeleter>;

}  // namespace

std::error_code CreateAdminFolder(const std::wstring& path) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminFolderSecurity,
                                                              SDDL_REVISION_1, &raw, nullptr))
    return nv::last_system_failure();
  const LocalDescriptor descriptor(raw);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  if (!::CreateDirectoryW(path.c_str(), &attributes)) return nv::last_system_failure();
  return {};
}

}  // namespace engine
