// Linked into the installer build that the recovery test stops at chosen points: it watches the
// named points of the installation run, of the recovery and of start-up (transaction/step_points.h).
//   NV_STEP_LOG=FILE        every point reached is appended to FILE, one name a line
//   NV_KILL_AT=NAME:N       at the N-th point called NAME the named event NV_KILL_EVENT is set
//                           and the installer waits there for recovery_probe to end it from outside
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "transaction/step_points.h"

namespace {

std::string environment(const char* name) {
  char buffer[1024];
  const DWORD length = ::GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

struct Watch {
  std::string log = environment("NV_STEP_LOG");
  std::string killName;
  long killCount = 0;
  long seen = 0;
  std::string event = environment("NV_KILL_EVENT");

  Watch() {
    const std::string at = environment("NV_KILL_AT");
    const std::size_t colon = at.rfind(':');
    if (colon == std::string::npos) return;
    killName = at.substr(0, colon);
    killCount = std::strtol(at.c_str() + colon + 1, nullptr, 10);
  }
};

Watch& watch() {
  static Watch instance;
  return instance;
}

void onStep(const char* step) noexcept {
  Watch& w = watch();
  if (!w.log.empty()) {
    const HANDLE file = ::CreateFileA(w.log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      const std::string line = std::string(step) + "\n";
      DWORD written = 0;
      ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      ::CloseHandle(file);
    }
  }
  if (w.killName != step || ++w.seen != w.killCount) return;
  const HANDLE reached = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, w.event.c_str());
  if (reached) ::SetEvent(reached);
  // Stopped here until the runner terminates the process; without a runner, at once.
  if (!reached) ::TerminateProcess(::GetCurrentProcess(), 0xDEAD);
  for (;;) ::Sleep(INFINITE);
}

const bool installed = (engine::SetStepObserver(&onStep), true);

}  // namespace
