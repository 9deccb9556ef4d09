#include "ui/wait_cursor.h"

namespace ui {
namespace {
thread_local int wait_depth = 0;
}  // namespace

wait_cursor::wait_cursor() noexcept : previous_(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {
  ++wait_depth;
}

wait_cursor::~wait_cursor() {
  --wait_depth;
  SetCursor(wait_depth > 0 ? LoadCursorW(nullptr, IDC_WAIT) : previous_);
}

void wait_cursor::restore() noexcept { SetCursor(LoadCursorW(nullptr, IDC_WAIT)); }

int wait_cursor::depth() noexcept { return wait_depth; }

}  // namespace ui
