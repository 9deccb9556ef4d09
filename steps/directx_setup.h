// The DirectX runtime update of the install sequence: the DirectX setup library carried in the
// payload is loaded from the working folder, accepted when it reports a recent enough version,
// and run with the installer's window kept responsive. A failure is journaled and logged but
// never stops the installation.
#pragma once

#include <windows.h>

#include <string>

#include "steps/existing_install.h"
#include "transaction/install_journal.h"
#include "steps/install_progress.h"
#include "nv/unique_module.h"

namespace engine {

// The oldest library accepted: DirectXSetupGetVersion must report at least both.
inline constexpr DWORD minimumDirectXVersion = 0x40009;
inline constexpr DWORD minimumDirectXRevision = 903;
// DSETUP_DIRECTX: what DirectXSetupW is asked to install.
inline constexpr DWORD directXSetupFlags = 0x10018;
// The callback reason that reports progress; the installer pumps its messages then.
inline constexpr DWORD directXProgressReason = 18;

// Registered with the setup library: pumps the thread's messages for the progress reason and
// returns 1 for every reason.
DWORD WINAPI DirectXSetupCallback(DWORD reason, DWORD messageType, LPSTR message, LPSTR name,
                                  void* info);

// One loaded and accepted "DSetup.dll"; destroying it frees the library.
class CDirectXSetup {
 public:
  explicit CDirectXSetup(const std::wstring& folder) { Open(folder); }

  // Loads "DSetup.dll" from `folder` and keeps it when its version and revision are accepted;
  // otherwise (missing, not loadable, no version entry, too old) module() stays null.
  void Open(const std::wstring& folder);
  // Registers DirectXSetupCallback and runs the setup owned by `owner` on the folder. True when
  // the setup reported 0 or 1; false when an entry point is missing, no library is accepted, or
  // the setup reported anything else.
  bool Run(HWND owner);

  const std::wstring& folder() const noexcept { return folder_; }
  HMODULE module() const noexcept { return module_.get(); }

 private:
  std::wstring folder_;
  nv::unique_module module_;
};

enum class DirectXStepResult { Skipped, Succeeded, Failed };

// The DirectX step: with an accepted library in `tempFolder`, and unless an update (not a
// reinstallation) finds a completed DirectX update in the previous log, runs the setup with the
// status text and log caption of string 1131, journals it with that text and logs "OK" or
// "Failed". Skipped leaves status, log and journal untouched.
DirectXStepResult RunDirectXStep(CInstallJournal& journal, InstallProgress& progress,
                                 ExistingInstall existingInstall, const std::wstring& tempFolder);

}  // namespace engine
