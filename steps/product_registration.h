// Product registration: after the files are in place the install sequence makes the product known
// to the machine — the entry in the system's list of installed programs (the uninstall key), the
// product path value under the maker's key that later installers read, and one run of the
// installed product with "/Register /Background" whose exit code -10 says it registered itself.
#pragma once

#include <windows.h>

#include <string>

#include "localization/languages.h"
#include "transaction/install_journal.h"
#include "machine/product_keys.h"
#include "nv/instance_tracking.h"
#include "nv/product.h"

namespace engine {

// The maker's addresses shown in the list of installed programs.
inline constexpr wchar_t makerWebAddress[] = L"https://www.nuvelle.example/";
inline constexpr wchar_t makerTelephone[] = L"+33 1 72 35 40 80";

// What the system's list of installed programs shows of a product: the name of its uninstall key
// and the values a package manager matches an installed product by. The installer writes them
// (WriteUninstallKey) and the release's package-manager manifest states them (payload winget), so
// both take them from here.
struct InstalledProgramEntry {
  std::wstring keyName;         // the product code: the registry name, "Tessaline 7"
  std::wstring displayName;     // "DisplayName": the product label, "Tessaline 7.08v"
  std::wstring publisher;       // "Publisher": "Nuvelle"
  std::wstring displayVersion;  // "DisplayVersion": the dotted version, "7.8.22.1"
};

// The entry of `product` in this installer's version. Raises std::logic_error for an identifier
// that the product table does not hold.
InstalledProgramEntry InstalledProgram(nv::product_id product);

// The command that removes the product without a window: the uninstaller's path in quotes and
// " /S".
std::wstring QuietUninstallCommand(const std::wstring& uninstallerPath);

// Writes the product's uninstall key (named by the current product's registry name) with its
// twelve values and "QuietUninstallString", journaled: with a backup of the key when it existed, without one when it is
// new. Values of an existing key that are not among the twelve stay. True when the key was
// opened or created and "DisplayName" and "UninstallString" were written.
bool WriteUninstallKey(CInstallJournal& journal, const std::wstring& mainProgramPath,
                       const std::wstring& uninstallerPath, LanguageId selectedLanguage);

// Records `mainProgramPath` as "<registry name> Path" under the maker's key (created when
// missing). Not journaled. False when the key or the value cannot be written.
bool WriteProductPath(const std::wstring& mainProgramPath);

// The registration run's command line: the path (in quotes when it holds a blank), then
// " /Register /Background", then " /update=" and 16 hexadecimal digits when `previousVersion`
// is not 0.
std::wstring RegistrationCommandLine(const std::wstring& mainProgramPath,
                                     nv::ProductVersion previousVersion);

// Runs the installed product once to let it register itself, journaled, and waits for it without
// dispatching window messages. `installerMutex` is let go while the product runs and taken back
// (without waiting) afterwards. True exactly when the product ended with exit code -10; only
// then the shell is told that file associations changed.
bool RunProductRegistration(CInstallJournal& journal, const std::wstring& mainProgramPath,
                            nv::ProductVersion previousVersion, nv::named_mutex& installerMutex);

// The shell notification call (SHChangeNotify's signature). Tests install their own to observe
// it; the previous one is returned. Null restores the shell's.
using ShellNotifyFunction = void(WINAPI*)(LONG eventId, UINT flags, LPCVOID item1, LPCVOID item2);
ShellNotifyFunction SetShellNotifyFunction(ShellNotifyFunction function) noexcept;

}  // namespace engine
