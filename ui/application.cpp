#include "ui/application.h"

#include <utility>

#include "nv/fatal_error.h"
#include "nv/startup.h"
#include "ui/message_filter.h"

namespace ui {
namespace {

application* current_application = nullptr;

}  // namespace

application::application() : name_(nv::executable_stem()), previous_(current_application) {
  current_application = this;
  nv::ui_hooks& hooks = nv::ui_providers();
  previous_hooks_ = hooks;
  hooks.application_name = [] {
    return current_application ? current_application->name() : nv::executable_stem();
  };
  // A box belongs to the active modal dialog when there is one, else to the main window.
  hooks.owner_window = [] {
    HWND anchor = active_modal_dialog();
    if (!anchor && current_application) anchor = current_application->main_window();
    return nv::safe_owner(anchor);
  };
}

application::~application() {
  // Only the providers this object installed are taken back; the caller's icon provider stays.
  nv::ui_hooks& hooks = nv::ui_providers();
  hooks.application_name = std::move(previous_hooks_.application_name);
  hooks.owner_window = std::move(previous_hooks_.owner_window);
  if (current_application == this) current_application = previous_;
}

BOOL application::InitInstance() { return FALSE; }

int application::Run() { return InitInstance() ? 1 : exit_code_; }

void application::set_name(std::wstring name) { name_ = std::move(name); }

void application::set_main_window(HWND window) noexcept {
  main_window_ = window;
  nv::details::set_main_window(window);
}

application* application::instance() noexcept { return current_application; }

int run_application() noexcept {
  application* app = application::instance();
  if (!app) return 2;
  try {
    return app->Run();
  } catch (...) {
    return 2;
  }
}

}  // namespace ui
