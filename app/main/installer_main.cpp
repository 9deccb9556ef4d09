// The installer program: the one application object and the entry that runs it.
//
// Start-up order: the support library's start-up object (nv/startup_sequence.cpp, linked in by
// the use of nv::run_startup below) is constructed with init_priority(110), before the
// application object of default priority. So the processor check, the process and library
// initialisation and the binding to the dialog layer have all run when CInstallApp's
// constructor names its mutex with the application identifier; then wWinMain runs
// InitInstance, whose return ends the program.
#include <windows.h>

#include "app/install_app.h"
#include "nv/startup.h"
#include "ui/application.h"

CInstallApp theApp;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  nv::run_startup();  // already done during static initialisation; returns at once
  return ui::run_application();
}
