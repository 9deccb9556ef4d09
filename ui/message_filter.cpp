#include "ui/message_filter.h"

namespace ui {
namespace {
thread_local HWND active_dialog = nullptr;
}  // namespace

modal_scope::modal_scope(HWND dialog) noexcept : previous_(active_dialog) { active_dialog = dialog; }

modal_scope::~modal_scope() { active_dialog = previous_; }

HWND active_modal_dialog() noexcept { return active_dialog; }

bool pre_translate_message(MSG& msg) {
  HWND dialog = active_dialog;
  if (dialog == nullptr || !IsWindow(dialog)) return false;
  if (msg.hwnd != dialog && !IsChild(dialog, msg.hwnd)) return false;
  return IsDialogMessageW(dialog, &msg) != FALSE;
}

}  // namespace ui
