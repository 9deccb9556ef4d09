// Locating the uninstall log that an earlier installation of the product left behind.
#pragma once

#include <string>
#include <system_error>

namespace uninstall_log {

// The full path of an existing "Uninstall.ulog", looked for in this order: beside the
// "UninstallString" of the product's uninstall key, beside the installer's own executable (only
// when the log's whole path is trusted, machine/write_trust.h: the installer's folder is often
// one its user may write to), beside the installed product's executable; empty when none exists. A registry failure other
// than a missing key or value never escapes: the source it concerns counts as finding nothing
// and the search goes on with the next one.
std::wstring FindUninstallLog();

// As above; `registryError` receives the first registry failure met (cleared when none).
std::wstring FindUninstallLog(std::error_code& registryError);

namespace details {
// The search with the installer's own folder given, so that tests can place a log there.
std::wstring FindUninstallLogFrom(const std::wstring& installerFolder,
                                  std::error_code& registryError);
}  // namespace details

}  // namespace uninstall_log
