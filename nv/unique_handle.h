// Ownership of Win32 handles: one move-only owner that closes its handle exactly once, with the
// kernel-handle, registry-key and directory-search forms the library uses.
#pragma once

#include <windows.h>

#include <utility>

namespace nv {

// Owner of a handle described by Traits: `type`, `normalize(h)` (maps "no handle" values to
// nullptr) and `close(h)`.
template <class Traits>
class unique_resource {
 public:
  using handle_type = typename Traits::type;

  unique_resource() noexcept = default;
  explicit unique_resource(handle_type h) noexcept : h_(Traits::normalize(h)) {}
  unique_resource(unique_resource&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  unique_resource& operator=(unique_resource&& other) noexcept {
    if (this != &other) reset(std::exchange(other.h_, nullptr));
    return *this;
  }
  unique_resource(const unique_resource&) = delete;
  unique_resource& operator=(const unique_resource&) = delete;
  ~unique_resource() { reset(); }

  handle_type get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != nullptr; }
  // Gives up ownership without closing.
  handle_type release() noexcept { return std::exchange(h_, nullptr); }
  // Closes the owned handle, if any, and takes `h`.
  void reset(handle_type h = nullptr) noexcept {
    if (h_) Traits::close(h_);
    h_ = Traits::normalize(h);
  }

 private:
  handle_type h_ = nullptr;
};

struct kernel_handle_traits {
  using type = HANDLE;
  // CreateFileW and friends report failure as INVALID_HANDLE_VALUE, others as null.
  static HANDLE normalize(HANDLE h) noexcept { return h == INVALID_HANDLE_VALUE ? nullptr : h; }
  static void close(HANDLE h) noexcept { ::CloseHandle(h); }
};

struct registry_key_traits {
  using type = HKEY;
  static HKEY normalize(HKEY key) noexcept { return key; }
  static void close(HKEY key) noexcept { ::RegCloseKey(key); }
};

struct find_handle_traits {
  using type = HANDLE;
  // FindFirstFileW reports failure as INVALID_HANDLE_VALUE.
  static HANDLE normalize(HANDLE h) noexcept { return h == INVALID_HANDLE_VALUE ? nullptr : h; }
  static void close(HANDLE h) noexcept { ::FindClose(h); }
};

// A kernel handle (file, process, event, mutex, semaphore, token).
using unique_handle = unique_resource<kernel_handle_traits>;

// An open registry key.
using reg_key = unique_resource<registry_key_traits>;

// A directory search begun with FindFirstFileW.
using unique_find = unique_resource<find_handle_traits>;

}  // namespace nv
