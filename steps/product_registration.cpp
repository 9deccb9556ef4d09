#include "steps/product_registration.h"

#include <shlobj.h>

#include <boost/format.hpp>

#include "nv/unique_handle.h"
#include "machine/write_trust.h"
#include "nv/fixed_path.h"
#include "nv/unique_handle.h"
#include "ui/wait_cursor.h"

namespace engine {
namespace {

constexpr DWORD kRegisteredExitCode = static_cast<DWORD>(-10);  // 0xFFFFFFF6

ShellNotifyFunction shellNotify = &::SHChangeNotify;

// A string value with its terminating NUL counted in the byte size.
bool SetString(HKEY key, const wchar_t* name, const std::wstring& text) {
  const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          bytes) == ERROR_SUCCESS;
}

bool SetDword(HKEY key, const wchar_t* name, DWORD value) {
  return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

}  // namespace

InstalledProgramEntry InstalledProgram(nv::product_id product) {
  return {nv::product_registry_name(product), nv::product_label(false), L"Nuvelle",
          std::wstring(nv::product_version_text)};
}

std::wstring QuietUninstallCommand(const std::wstring& uninstallerPath) {
  return L"\"" + uninstallerPath + L"\" /S";
}

bool WriteUninstallKey(CInstallJournal& journal, const std::wstring& mainProgramPath,
                       const std::wstring& uninstallerPath, LanguageId selectedLanguage) {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, uninstallKeyParent, 0, KEY_ALL_ACCESS, &raw) !=
      ERROR_SUCCESS)
    return false;
  const nv::reg_key parent(raw);

  const InstalledProgramEntry entry = InstalledProgram(nv::current_product());
  raw = nullptr;
  DWORD disposition = 0;
  if (::RegCreateKeyExW(parent.get(), entry.keyName.c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &raw,
                        &disposition) != ERROR_SUCCESS)
    return false;
  nv::reg_key key(raw);

  // An existing key is saved first so that a rollback can put it back; a new one is deleted.
  journal.BeginUninstallKey(disposition == REG_OPENED_EXISTING_KEY ? key.get() : nullptr);

  const std::wstring webAddress = makerWebAddress;
  bool outcome = SetString(key.get(), L"DisplayName", entry.displayName);
  outcome = SetString(key.get(), L"UninstallString", uninstallerPath) && outcome;
  // The remaining values are informative: a failure to write them is not reported.
  SetString(key.get(), L"DisplayIcon", mainProgramPath + L",0");
  SetString(key.get(), L"DisplayVersion", entry.displayVersion);
  SetString(key.get(), L"Publisher", entry.publisher);
  SetString(key.get(), L"URLInfoAbout", webAddress);
  SetString(key.get(), L"HelpLink", webAddress);
  SetString(key.get(), L"URLUpdateInfo", webAddress);
  SetString(key.get(), L"HelpTelephone", makerTelephone);
  SetDword(key.get(), L"NoModify", 1);
  SetDword(key.get(), L"NoRepair", 1);
  SetDword(key.get(), L"NvLanguage", static_cast<DWORD>(selectedLanguage));
  // Deployment systems remove the product with this command, without any window.
  SetString(key.get(), L"QuietUninstallString", QuietUninstallCommand(uninstallerPath));

  key.reset();
  journal.EndOperation(outcome, nullptr);
  return outcome;
}


bool WriteProductPath(const std::wstring& mainProgramPath) {
  HKEY raw = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, makerKey, 0, nullptr, 0, MAXIMUM_ALLOWED, nullptr,
                        &raw, nullptr) != ERROR_SUCCESS)
    return false;
  const nv::reg_key key(raw);
  return SetString(key.get(), ProductPathValueName().c_str(), mainProgramPath);
}

std::wstring RegistrationCommandLine(const std::wstring& mainProgramPath,
                                     nv::ProductVersion previousVersion) {
  // The path as the shell quotes it: in double quotes when it holds a blank. Quoting is done
  // here rather than in the shell's fixed buffer so that a path close to the buffer's limit is
  // still quoted instead of being passed bare (and split at its first blank by the product).
  std::wstring commandLine = nv::fixed_path::cut(mainProgramPath);
  if (commandLine.find(L' ') != std::wstring::npos) commandLine = L'"' + commandLine + L'"';
  commandLine += L" /Register /Background";
  if (previousVersion != 0)
    commandLine += (boost::wformat(L" /update=%|1$016x|") % previousVersion).str();
  return commandLine;
}

bool RunProductRegistration(CInstallJournal& journal, const std::wstring& mainProgramPath,
                            nv::ProductVersion previousVersion, nv::named_mutex& installerMutex) {
  journal.BeginProductRegistration();
  // The product runs elevated: never from a folder (an installation folder outside the Program
  // Files folder, say) where a standard user could have replaced it since it was written.
  if (CheckTrustedPath(mainProgramPath)) {
    journal.EndOperation(false, nullptr);
    return false;
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNOACTIVATE;

  std::wstring commandLine = RegistrationCommandLine(mainProgramPath, previousVersion);
  const std::wstring folder = nv::fixed_path::remove_file_spec(mainProgramPath);

  // The product may look for a running installer through the mutex; it is free while it runs.
  installerMutex.unlock();

  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, HIGH_PRIORITY_CLASS,
                        nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
    journal.EndOperation(false, nullptr);
    installerMutex.try_lock();
    return false;
  }
  const nv::unique_handle processHandle(process.hProcess);
  const nv::unique_handle threadHandle(process.hThread);

  DWORD exitCode = 0;
  ::WaitForSingleObject(processHandle.get(), INFINITE);
  const bool exited = ::GetExitCodeProcess(processHandle.get(), &exitCode) != FALSE;
  installerMutex.try_lock();

  const bool outcome = exited && exitCode == kRegisteredExitCode;
  journal.EndOperation(outcome, nullptr);
  if (outcome) {
    ui::wait_cursor cursor;
    shellNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
  }
  return outcome;
}

ShellNotifyFunction SetShellNotifyFunction(ShellNotifyFunction function) noexcept {
  const ShellNotifyFunction previous = shellNotify;
  shellNotify = function ? function : &::SHChangeNotify;
  return previous;
}

}  // namespace engine
