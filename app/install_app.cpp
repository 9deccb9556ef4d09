#include "app/install_app.h"

#include <stdexcept>

#include "machine/temporary_folder.h"
#include "nv/ui_hooks.h"
#include "nv/version_info.h"

namespace {

// The single-instance mutex's name; the application identifier is settled first so that the
// name never lacks it.
std::wstring installerMutexName() {
  if (nv::application_id().empty()) nv::initialize_application_id();
  return nv::mutex_name(nv::application_id());
}

}  // namespace

CInstallApp::CInstallApp() : installerMutex(installerMutexName(), false, true) {
  nv::set_current_product(nv::tessaline_7);
  HICON icon = nv::executable_icon();
  nv::ui_providers().application_icon = [icon] { return icon; };
}

CInstallApp::~CInstallApp() {
  if (installerMutex.owned()) installerMutex.unlock();
}

ExistingInstall CInstallApp::getExistingInstall(std::wstring* versionText) const {
  if (versionText && (existingInstall == ExistingInstall::NewerVersion ||
                      existingInstall == ExistingInstall::OlderVersion))
    *versionText = previousVersionText;
  return existingInstall;
}

bool CInstallApp::MakeTemporaryFolderName(std::wstring& errorText) {
  return engine::MakeTemporaryFolderName(tempFolder, errorText);
}

CInstallApp& installApp() {
  auto* app = dynamic_cast<CInstallApp*>(ui::application::instance());
  if (!app) throw std::logic_error("logic error");
  return *app;
}
