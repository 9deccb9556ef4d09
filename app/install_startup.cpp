#include "app/install_startup.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <utility>

#include "nv/fixed_path.h"
#include "nv/version_info.h"

using engine::ExistingInstall;

InstalledVersion classifyVersion(bool hasFixedInfo, nv::ProductVersion fileVersion,
                                 const std::wstring& versionText) {
  InstalledVersion result;
  if (hasFixedInfo) result.installedVersion = fileVersion;
  if (!hasFixedInfo || fileVersion == nv::product_version) {
    result.existingInstall = ExistingInstall::SameVersion;
  } else if (fileVersion > nv::product_version) {
    result.existingInstall = ExistingInstall::NewerVersion;
    result.previousVersionText = versionText;
  } else {
    result.existingInstall = ExistingInstall::OlderVersion;
    result.previousVersionText = versionText;
    result.previousVersion = fileVersion;
  }
  return result;
}

InstalledVersion classifyInstalledProduct(const std::wstring& productPath) {
  if (productPath.empty()) return {};
  const nv::version_info info(productPath);
  if (!info.has_fixed_info()) return classifyVersion(false, 0, {});
  return classifyVersion(true, info.file_version(), info.version_text());
}

std::wstring runKind(const InstalledVersion& installed) {
  const std::wstring ours(nv::product_version_text);
  const std::wstring theirs = installed.installedVersion != 0
                                  ? nv::version_dotted(installed.installedVersion)
                                  : installed.previousVersionText;
  switch (installed.existingInstall) {
    case ExistingInstall::SameVersion:
      return L"reinstallation of " + ours;
    case ExistingInstall::OlderVersion:
      return L"update from " + theirs + L" to " + ours;
    case ExistingInstall::NewerVersion:
      return L"newer version " + theirs + L" installed; " + ours + L" is not installed over it";
    case ExistingInstall::None:
      break;
  }
  return L"first installation of " + ours;
}

namespace {

// The special folder `csidl`, not created; empty when the system does not name it.
std::wstring specialFolder(int csidl) {
  wchar_t buffer[MAX_PATH + 1]{};
  if (!::SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE)) return {};
  return buffer;
}

// `base`\Nuvelle\<registry name>, or empty without a base.
std::wstring productFolderUnder(const std::wstring& base) {
  if (base.empty()) return {};
  return nv::fixed_path::append(nv::fixed_path::append(base, L"Nuvelle"),
                                nv::product_registry_name(nv::tessaline_7));
}

}  // namespace

std::wstring defaultInstallFolder() {
  std::wstring base = specialFolder(CSIDL_PROGRAM_FILES);
  if (base.empty()) {
    wchar_t buffer[MAX_PATH + 1]{};
    const DWORD length = ::GetEnvironmentVariableW(L"ProgramFiles", buffer, MAX_PATH + 1);
    if (length > 0 && length <= MAX_PATH) base = buffer;
  }
  return productFolderUnder(base);
}

std::wstring programsMenuFolder() {
  std::wstring folder = specialFolder(CSIDL_COMMON_PROGRAMS);
  if (folder.empty()) folder = specialFolder(CSIDL_PROGRAMS);
  return folder;
}

std::wstring defaultMenuFolder() { return productFolderUnder(programsMenuFolder()); }

namespace {

StartupChecks& checks() {
  static StartupChecks current;
  return current;
}

}  // namespace

StartupChecks setStartupChecks(StartupChecks replacement) {
  return std::exchange(checks(), std::move(replacement));
}

const StartupChecks& startupChecks() { return checks(); }
