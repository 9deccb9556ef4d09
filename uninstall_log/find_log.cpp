#include "uninstall_log/find_log.h"

#include <windows.h>

#include <filesystem>

#include "machine/write_trust.h"
#include "nv/fixed_path.h"
#include "nv/own_executable.h"
#include "nv/product.h"
#include "nv/registry.h"
#include "uninstall_log/log_format.h"

namespace uninstall_log {
namespace {

bool exists(const std::wstring& path) {
  return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The log's path in `folder`, or empty when there is no folder.
std::wstring log_in(const std::filesystem::path& folder) {
  if (folder.empty()) return {};
  return (folder / log_file_name).native();
}

// The log beside the product's uninstall command, or empty. Registry failures other than a
// missing key or value raise std::system_error.
std::wstring log_beside_uninstall_string() {
  const std::wstring key_name =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
      nv::product_registry_name(nv::current_product());
  const nv::reg_key key = nv::reg_open_key(HKEY_LOCAL_MACHINE, key_name.c_str());
  if (!key) return {};
  std::wstring command;
  if (!nv::reg_read_string(key.get(), L"UninstallString", command)) return {};
  // Taken verbatim: the folder before the last separator, without the separators ending it.
  const std::size_t last = command.find_last_of(L"\\/");
  if (last == std::wstring::npos) return {};
  return log_in(std::filesystem::path(command).parent_path());
}

std::wstring own_folder() {
  const std::wstring path = nv::own_executable_path();
  return path.empty() ? std::wstring() : std::filesystem::path(path).parent_path().native();
}

void note(std::error_code& first, const std::system_error& error) {
  if (!first) first = error.code();
}

}  // namespace

namespace details {

std::wstring FindUninstallLogFrom(const std::wstring& installerFolder,
                                  std::error_code& registryError) {
  registryError.clear();
  try {
    if (std::wstring path = log_beside_uninstall_string(); exists(path)) return path;
  } catch (const std::system_error& error) {
    note(registryError, error);
  }
  // The installer often runs from a folder its user may write to (downloads, a USB stick): a log
  // there is taken only when nobody but the trusted may have put it there.
  if (std::wstring path = log_in(installerFolder);
      exists(path) && !engine::CheckTrustedPath(path))
    return path;
  try {
    const std::wstring product = nv::product_path();
    if (!product.empty()) {
      std::wstring path = nv::fixed_path::remove_file_spec(product);
      path = path.empty() ? std::wstring() : nv::fixed_path::append(path, log_file_name);
      if (exists(path)) return path;
    }
  } catch (const std::system_error& error) {
    note(registryError, error);
  }
  return {};
}

}  // namespace details

std::wstring FindUninstallLog(std::error_code& registryError) {
  return details::FindUninstallLogFrom(own_folder(), registryError);
}

std::wstring FindUninstallLog() {
  std::error_code ignored;
  return FindUninstallLog(ignored);
}

}  // namespace uninstall_log
