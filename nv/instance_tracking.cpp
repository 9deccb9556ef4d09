#include "nv/instance_tracking.h"

#include "nv/instance_ids.h"
#include "nv/privileges.h"
#include "nv/version_info.h"

namespace nv {
namespace {

constexpr LONG kTrackerMaximum = 0x7FFFFFFF;

bool taken(DWORD wait_result) noexcept {
  return wait_result == WAIT_OBJECT_0 || wait_result == WAIT_ABANDONED;
}

// Builds the world descriptor for `access`, runs `create` with it and keeps the creating call's
// last-error value across the clean-up.
template <class Create>
HANDLE create_global(DWORD access, Create create) {
  access_descriptor descriptor;
  if (FAILED(world_access_descriptor(access, descriptor))) {
    ::SetLastError(ERROR_CAN_NOT_COMPLETE);
    return nullptr;
  }
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
  HANDLE object = create(&attributes);
  const DWORD error = ::GetLastError();
  descriptor = access_descriptor{};
  ::SetLastError(error);
  return object;
}

instance_tracker& process_tracker() {
  static instance_tracker tracker;
  return tracker;
}

}  // namespace

HANDLE create_global_mutex(bool initial_owner, const std::wstring& name) {
  const std::wstring full = L"Global\\" + name;
  return create_global(MUTEX_ALL_ACCESS, [&](SECURITY_ATTRIBUTES* attributes) {
    return ::CreateMutexW(attributes, initial_owner ? TRUE : FALSE, full.c_str());
  });
}

HANDLE create_global_semaphore(LONG initial_count, LONG maximum_count, const std::wstring& name) {
  const std::wstring full = L"Global\\" + name;
  return create_global(SEMAPHORE_ALL_ACCESS, [&](SECURITY_ATTRIBUTES* attributes) {
    return ::CreateSemaphoreW(attributes, initial_count, maximum_count, full.c_str());
  });
}

std::wstring tracker_name(std::wstring_view application_id) {
  return std::wstring(application_id) + L"." + tracker_guid;
}

std::wstring mutex_name(std::wstring_view application_id) {
  return std::wstring(application_id) + L"." + mutex_guid;
}

instance_tracker::instance_tracker() : instance_tracker(tracker_name(application_id())) {}

instance_tracker::instance_tracker(const std::wstring& name)
    : handle_(create_global_semaphore(0, kTrackerMaximum, name)) {
  if (handle_ && ::ReleaseSemaphore(handle_.get(), 1, nullptr)) held_ = 1;
}

instance_tracker::~instance_tracker() {
  if (held_ > 0) {
    LONG taken_back = 0;
    while (taken_back < held_ && ::WaitForSingleObject(handle_.get(), 0) == WAIT_OBJECT_0) {
      ++taken_back;
    }
    if (taken_back == held_) {
      held_ = 0;
    } else if (taken_back > 0) {
      ::ReleaseSemaphore(handle_.get(), taken_back, nullptr);
    }
  } else if (held_ < 0) {
    if (::ReleaseSemaphore(handle_.get(), -held_, nullptr)) held_ = 0;
  }
  // handle_ closes the semaphore.
}

std::uint32_t instance_tracker::running() const noexcept {
  LONG previous = 0;
  if (!handle_ || !::ReleaseSemaphore(handle_.get(), 1, &previous)) return 0;
  ::WaitForSingleObject(handle_.get(), 0);
  return static_cast<std::uint32_t>(previous);
}

void register_instance() { process_tracker(); }

std::uint32_t running_instances() { return process_tracker().running(); }

named_mutex::named_mutex(const std::wstring& name, bool acquire, bool global)
    : handle_(global ? create_global_mutex(acquire, name)
                     : ::CreateMutexW(nullptr, acquire ? TRUE : FALSE, name.c_str())) {
  const DWORD error = ::GetLastError();
  if (handle_ && acquire && error == ERROR_ALREADY_EXISTS) {
    owned_ = taken(::WaitForSingleObject(handle_.get(), INFINITE));
  } else {
    owned_ = handle_ && acquire;
  }
}

named_mutex::~named_mutex() {
  if (handle_ && owned_) ::ReleaseMutex(handle_.get());
}

bool named_mutex::try_lock() noexcept {
  owned_ = handle_ && taken(::WaitForSingleObject(handle_.get(), 0));
  return owned_;
}

void named_mutex::unlock() noexcept {
  if (handle_) ::ReleaseMutex(handle_.get());
  owned_ = false;
}

}  // namespace nv
