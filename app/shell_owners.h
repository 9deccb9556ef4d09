// Owners for shell allocations and the thread's COM apartment, so that every item id list the
// shell hands out is freed with CoTaskMemFree and every successful CoInitialize is balanced.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <memory>

namespace nv {

struct co_task_mem_deleter {
  void operator()(void* memory) const noexcept { ::CoTaskMemFree(memory); }
};

// An item id list allocated by the shell (SHBrowseForFolderW, SHGetSpecialFolderLocation).
using unique_pidl = std::unique_ptr<ITEMIDLIST, co_task_mem_deleter>;

// CoInitialize on construction; CoUninitialize on destruction when the call succeeded (S_FALSE
// included, which also counts as an initialisation to balance).
class com_initialization {
 public:
  com_initialization() noexcept : result_(::CoInitialize(nullptr)) {}
  ~com_initialization() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  com_initialization(const com_initialization&) = delete;
  com_initialization& operator=(const com_initialization&) = delete;

  HRESULT result() const noexcept { return result_; }
  bool succeeded() const noexcept { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

}  // namespace nv
