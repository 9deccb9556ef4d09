// The uninstaller program: the one application object and the entry that runs it. The support
// library's start-up runs during static initialisation before the application object is
// constructed (see the installer's entry), so the mutex is named with the application identifier.
#include <windows.h>

#include "nv/startup.h"
#include "ui/application.h"
#include "uninstaller/uninstall_app.h"

uninstaller::CUninstallApp theApp;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  nv::run_startup();  // already done during static initialisation; returns at once
  return ui::run_application();
}
