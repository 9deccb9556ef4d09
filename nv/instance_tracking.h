// Named kernel objects in the global namespace that let the programs of one application
// identifier see each other: the instance tracker (a counting semaphore whose count is the number
// of registered programs) and the single-instance mutex. Both carry a DACL that lets every user
// open them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "nv/unique_handle.h"

namespace nv {

// CreateMutexW / CreateSemaphoreW on "Global\" + `name` with a descriptor that allows Everyone
// all access. The last-error value is left as the creating call set it (ERROR_ALREADY_EXISTS when
// the object existed); when the descriptor cannot be built nothing is created, the result is null
// and the last error is ERROR_CAN_NOT_COMPLETE.
HANDLE create_global_mutex(bool initial_owner, const std::wstring& name);
HANDLE create_global_semaphore(LONG initial_count, LONG maximum_count, const std::wstring& name);

// `application_id` + "." + the fixed GUID of the object.
std::wstring tracker_name(std::wstring_view application_id);
std::wstring mutex_name(std::wstring_view application_id);

// One registration in the tracker semaphore `name`: creates or opens it and adds one unit; the
// destructor takes the units back and closes the handle. A tracker that cannot be created or
// released simply does not count this program.
class instance_tracker {
 public:
  // The tracker of the current application identifier.
  instance_tracker();
  explicit instance_tracker(const std::wstring& name);
  ~instance_tracker();
  instance_tracker(const instance_tracker&) = delete;
  instance_tracker& operator=(const instance_tracker&) = delete;

  // The number of registered programs, this one included; 0 when the tracker is unavailable.
  std::uint32_t running() const noexcept;

  HANDLE handle() const noexcept { return handle_.get(); }
  LONG held() const noexcept { return held_; }

 private:
  unique_handle handle_;
  LONG held_ = 0;
};

// Registers the process under the current application identifier (once; later calls change
// nothing). The registration is taken back at normal process exit.
void register_instance();

// The number of registered programs of the current application identifier, this process
// included (registering it first if needed); 0 when the tracker is unavailable.
std::uint32_t running_instances();

// A named mutex held by at most one process at a time. A mutex whose holder ended without
// releasing it counts as taken by the next one who waits for it.
class named_mutex {
 public:
  // Creates or opens the mutex `name` ("Global\" + `name` with the world descriptor when `global`
  // is true); with `acquire` true waits until it is held.
  named_mutex(const std::wstring& name, bool acquire, bool global);
  ~named_mutex();
  named_mutex(const named_mutex&) = delete;
  named_mutex& operator=(const named_mutex&) = delete;

  // Takes the mutex without waiting. False with a null handle or when another holds it.
  bool try_lock() noexcept;
  void unlock() noexcept;

  bool owned() const noexcept { return owned_; }
  HANDLE handle() const noexcept { return handle_.get(); }

 private:
  unique_handle handle_;
  bool owned_ = false;
};

}  // namespace nv
