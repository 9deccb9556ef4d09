// Shared pieces of the product tests: Wine detection, a private temporary folder and a scratch
// registry key that stands in for HKEY_LOCAL_MACHINE.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "wine.h"
#include "nv/registry.h"

namespace nv_test {

using nv_testing::running_under_wine;

inline void check(LSTATUS status, const char* what) {
  if (status != ERROR_SUCCESS)
    throw std::system_error(static_cast<int>(status), std::system_category(), what);
}

// A name that no other test process uses at the same time.
inline std::wstring unique_name(const wchar_t* prefix) {
  LARGE_INTEGER counter{};
  ::QueryPerformanceCounter(&counter);
  return prefix + std::to_wstring(::GetCurrentProcessId()) + L"_" +
         std::to_wstring(counter.QuadPart);
}

// A folder of its own under the system temporary folder, removed with everything in it.
// A folder of the system by CSIDL, such as the all-users application data; empty when none.
inline std::filesystem::path system_folder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
  return path;
}

class temp_folder {
 public:
  // A fresh folder below `base`, by default below the temporary folder.
  explicit temp_folder(std::filesystem::path base = {}) {
    if (base.empty()) {
      wchar_t temp[MAX_PATH] = {};
      ::GetTempPathW(MAX_PATH, temp);
      base = temp;
    }
    path_ = base / unique_name(L"nv_product_test_");
    std::filesystem::create_directories(path_);
  }
  ~temp_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  temp_folder(const temp_folder&) = delete;
  temp_folder& operator=(const temp_folder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Redirects this process's HKEY_LOCAL_MACHINE to a fresh key under HKEY_CURRENT_USER while it
// lives, then deletes that key: registry tests never touch the real machine keys.
class scratch_machine_key {
 public:
  scratch_machine_key() : name_(L"Software\\NvProductTests\\" + unique_name(L"hklm_")) {
    key_ = create(HKEY_CURRENT_USER, name_.c_str());
    check(::RegOverridePredefKey(HKEY_LOCAL_MACHINE, key_.get()), "RegOverridePredefKey");
  }
  ~scratch_machine_key() {
    ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    key_.reset();
    ::SHDeleteKeyW(HKEY_CURRENT_USER, name_.c_str());
    // The parent goes once no other test process uses it (fails harmlessly otherwise).
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\NvProductTests");
  }
  scratch_machine_key(const scratch_machine_key&) = delete;
  scratch_machine_key& operator=(const scratch_machine_key&) = delete;

  static nv::reg_key create(HKEY parent, const wchar_t* subkey) {
    HKEY key = nullptr;
    check(::RegCreateKeyExW(parent, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
          "RegCreateKeyExW");
    return nv::reg_key(key);
  }

 private:
  std::wstring name_;
  nv::reg_key key_;
};

inline void set_raw_value(HKEY key, const wchar_t* name, DWORD type, const void* data,
                          DWORD size) {
  check(::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size),
        "RegSetValueExW");
}

// Stores `text` with its terminating 0, or without it. RegSetValueExW adds a missing terminator
// itself when the unit after the counted data is 0, so that unit is made non-zero.
inline void set_string_value(HKEY key, const wchar_t* name, const std::wstring& text,
                             bool terminated = true, DWORD type = REG_SZ) {
  const std::wstring buffer = terminated ? text : text + L'X';
  set_raw_value(key, name, type, buffer.c_str(),
                static_cast<DWORD>((text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t)));
}

}  // namespace nv_test
