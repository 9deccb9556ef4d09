// The installer's application object: the installation settings that start-up fills in, the
// wizard pages change and the install sequence reads, and the single-instance mutex held for the
// life of the process. The one instance is a global of the installer's main translation unit.
#pragma once

#include <windows.h>

#include <string>

#include "run/log_file.h"
#include "steps/existing_install.h"
#include "transaction/install_journal.h"
#include "nv/instance_tracking.h"
#include "nv/product.h"
#include "ui/application.h"

using engine::ExistingInstall;

class CInstallApp : public ui::application {
 public:
  // Creates the single-instance mutex unowned, sets the current product and registers icon 128
  // of the executable as the application icon.
  CInstallApp();
  // Releases the mutex if it is held, then closes it.
  ~CInstallApp() override;

  // Start-up, then the wizard or, with /S on the command line, the unattended installation.
  // Returns FALSE: the program ends when it returns, with the exit code it set.
  BOOL InitInstance() override;

  // `existingInstall`; for an older or newer installation also copies `previousVersionText`
  // into `versionText` when one is given (otherwise `versionText` stays as it was).
  ExistingInstall getExistingInstall(std::wstring* versionText = nullptr) const;

  // Names the temporary working folder into `tempFolder` (the folder is not created); false
  // with the reason in `errorText` when no name can be made.
  bool MakeTemporaryFolderName(std::wstring& errorText);

  // The settings, in this order.
  ExistingInstall existingInstall = ExistingInstall::None;
  std::wstring previousVersionText;
  nv::named_mutex installerMutex;
  std::wstring installFolder;
  std::wstring menuFolder;
  std::wstring tempFolder;
  bool createMenuShortcut = true;
  bool createDesktopShortcut = true;
  bool advancedMode = false;
  engine::CInstallJournal uninstallLog;
  bool installDone = false;
  nv::ProductVersion previousVersion = 0;

  // The file named by the command line's /LOG, open for the whole run; closed without one.
  CLogFile logFile;
};

// The application object; raises std::logic_error ("logic error") when there is none.
CInstallApp& installApp();
