// Shared pieces of the product tests: Wine detection, a private temporary folder, a scratch
// registry key that stands in for HKEY_LOCAL_MACHINE, and the folder of the test program.
#pragma once

#include <windows.h>
#include <shlwapi.h>

#include <filesystem>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "nv/registry.h"

namespace nv_test {

inline bool running_under_wine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A name no other test process uses at the same time.
inline std::wstring unique_name(const wchar_t* prefix) {
  LARGE_INTEGER counter{};
  ::QueryPerformanceCounter(&counter);
  return prefix + std::to_wstring(::GetCurrentProcessId()) + L"_" +
         std::to_wstring(counter.QuadPart);
}

// The folder of the running test program, where the fixture modules are built.
inline std::filesystem::path program_folder() {
  wchar_t buffer[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return std::filesystem::path(buffer).parent_path();
}

// A folder of its own under the system temporary folder, removed with everything in it.
class temp_folder {
 public:
  temp_folder() {
    wchar_t base[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, base);
    path_ = std::filesystem::path(base) / unique_name(L"nv_product_test_");
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

// Redirects HKEY_LOCAL_MACHINE of this process to a fresh key under HKEY_CURRENT_USER for the
// life of the object, then deletes that key. Registry tests never touch the real machine keys.
class scratch_machine_key {
 public:
  scratch_machine_key() : name_(L"Software\\NvProductTests\\" + unique_name(L"hklm_")) {
    HKEY key = nullptr;
    const LSTATUS status = ::RegCreateKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
      throw std::system_error(static_cast<int>(status), std::system_category(), "scratch key");
    key_.reset(key);
    const LSTATUS redirected = ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, key_.get());
    if (redirected != ERROR_SUCCESS)
      throw std::system_error(static_cast<int>(redirected), std::system_category(),
                              "RegOverridePredefKey");
  }
  ~scratch_machine_key() {
    ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    key_.reset();
    ::SHDeleteKeyW(HKEY_CURRENT_USER, name_.c_str());
    // Removes the parent too once no other test process uses it (fails harmlessly otherwise).
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\NvProductTests");
  }
  scratch_machine_key(const scratch_machine_key&) = delete;
  scratch_machine_key& operator=(const scratch_machine_key&) = delete;

  // The scratch key's path under HKEY_CURRENT_USER.
  const std::wstring& name() const { return name_; }

  // Creates (or opens) `subkey` of the redirected HKEY_LOCAL_MACHINE with full access.
  static nv::reg_key create(const wchar_t* subkey) {
    HKEY key = nullptr;
    const LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
      throw std::system_error(static_cast<int>(status), std::system_category(), "create");
    return nv::reg_key(key);
  }

 private:
  std::wstring name_;
  nv::reg_key key_;
};

// Stores raw bytes as a value of `key`.
inline void set_raw_value(HKEY key, const wchar_t* name, DWORD type, const void* data,
                          DWORD size) {
  const LSTATUS status =
      ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
  if (status != ERROR_SUCCESS)
    throw std::system_error(static_cast<int>(status), std::system_category(), "set value");
}

// Stores `text` with its terminating 0.
inline void set_string_value(HKEY key, const wchar_t* name, const std::wstring& text,
                             DWORD type = REG_SZ) {
  set_raw_value(key, name, type, text.c_str(),
                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// Stores `text` without a terminating 0. RegSetValueExW adds the terminator on its own when the
// unit after the counted data is 0, so the buffer carries a non-zero unit there.
inline void set_unterminated_value(HKEY key, const wchar_t* name, const std::wstring& text) {
  const std::wstring buffer = text + L'X';
  set_raw_value(key, name, REG_SZ, buffer.c_str(),
                static_cast<DWORD>(text.size() * sizeof(wchar_t)));
}

}  // namespace nv_test
