// The start-up object: constructed during static initialisation before every global object of
// default priority, it runs the start-up sequence of nv/startup.h. It is linked into a program
// by any use of nv::run_startup (nv::startup calls it).
#include "nv/startup.h"

#include <atomic>

#include "nv/dll_search.h"
#include "nv/processor_check.h"

namespace nv {
namespace {

INIT_ONCE sequence_once = INIT_ONCE_STATIC_INIT;
std::atomic<bool> completed{false};

// The very first step, before any other global object is constructed: from here on no DLL that is
// loaded by name, on demand or by a system library, comes from the executable's folder.
struct dll_search_object {
  dll_search_object() { restrict_dll_search(); }
};
__attribute__((init_priority(101))) dll_search_object dll_search_first;

// Runs before the application object (default priority 65535) in whatever translation unit it is.
struct startup_object {
  startup_object() { run_startup(); }
};
__attribute__((init_priority(110))) startup_object early_startup;

BOOL CALLBACK run_sequence(PINIT_ONCE, PVOID, PVOID*) {
  try {
    // Also when a global object of an earlier priority started the sequence on first use.
    restrict_dll_search();
    check_processor();
    details::initialize_mfc_lib();
    completed.store(true);
    return TRUE;
  } catch (...) {
    // Nothing may leave the system's callback. A step that threw (out of memory, say) ends the
    // process like any other failed initialisation.
    details::fail_initialization();
    return FALSE;
  }
}

}  // namespace

void run_startup() { ::InitOnceExecuteOnce(&sequence_once, &run_sequence, nullptr, nullptr); }

bool startup_completed() noexcept { return completed.load(); }

}  // namespace nv
