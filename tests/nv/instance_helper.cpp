// A second program for the instance tests. Usage:
//   nv_instance_helper register <tracker name> <ready event> <quit event>
//     registers in the tracker, signals ready, waits for quit, exits normally (0);
//   nv_instance_helper hold <mutex name> <ready event> <quit event>
//     tries to take the mutex, signals ready, waits for quit; exits 10 when it held the mutex,
//     11 when it did not.
// The tests may also terminate it while it waits.
#include <windows.h>

#include <string>

#include "nv/instance_tracking.h"

namespace {

constexpr int kUsage = 2;
constexpr int kHeld = 10;
constexpr int kNotHeld = 11;

void signal_and_wait(const wchar_t* ready, const wchar_t* quit) {
  nv::unique_handle ready_event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, ready));
  nv::unique_handle quit_event(::OpenEventW(SYNCHRONIZE, FALSE, quit));
  if (ready_event) ::SetEvent(ready_event.get());
  if (quit_event) ::WaitForSingleObject(quit_event.get(), 60000);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) return kUsage;
  const std::wstring mode = argv[1];
  if (mode == L"register") {
    // Like the process-wide registration: a static, taken back by the exit-time clean-up.
    static nv::instance_tracker tracker(argv[2]);
    signal_and_wait(argv[3], argv[4]);
    return 0;
  }
  if (mode == L"hold") {
    static nv::named_mutex mutex(argv[2], false, true);
    const bool held = mutex.try_lock();
    signal_and_wait(argv[3], argv[4]);
    return held ? kHeld : kNotHeld;
  }
  return kUsage;
}
