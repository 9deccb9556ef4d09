#include "nv/known_folders.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <memory>
#include <mutex>
#include <optional>
#include <system_error>

namespace nv {
namespace {

// Resolve without creating the folder and without checking that it exists.
constexpr DWORD dont_verify = 0x4000;  // KF_FLAG_DONT_VERIFY

constexpr wchar_t maker_folder[] = L"Nuvelle";

struct co_task_mem_deleter {
  void operator()(wchar_t* p) const noexcept { ::CoTaskMemFree(p); }
};
using co_task_string = std::unique_ptr<wchar_t, co_task_mem_deleter>;

std::wstring known_folder(REFKNOWNFOLDERID id) {
  wchar_t* raw = nullptr;
  const HRESULT hr = ::SHGetKnownFolderPath(id, dont_verify, nullptr, &raw);
  co_task_string owned(raw);  // the shell allocates even on some failures
  if (FAILED(hr) || !owned)
    throw std::system_error(static_cast<int>(hr), std::system_category(), "SHGetKnownFolderPath");
  return owned.get();
}

struct folders {
  std::wstring documents;
  std::wstring common_data;
  std::wstring user_data;
};

// Function-local: the cache is filled by the start-up object, which runs before the dynamic
// initialisation of ordinary namespace-scope objects (that would empty it again).
struct folder_cache {
  std::mutex mutex;
  std::optional<folders> value;
};

folder_cache& cache_slot() {
  static folder_cache slot;
  return slot;
}

const folders& resolved() {
  folder_cache& slot = cache_slot();
  const std::lock_guard lock(slot.mutex);
  std::optional<folders>& cache = slot.value;
  if (!cache) {
    folders found;
    found.documents = known_folder(FOLDERID_Documents);
    found.common_data = known_folder(FOLDERID_ProgramData) + L"\\" + maker_folder;
    found.user_data = known_folder(FOLDERID_RoamingAppData) + L"\\" + maker_folder;
    cache = std::move(found);
  }
  return *cache;
}

}  // namespace

void resolve_known_folders() { resolved(); }

const std::wstring& documents_folder() { return resolved().documents; }
const std::wstring& common_data_folder() { return resolved().common_data; }
const std::wstring& user_data_folder() { return resolved().user_data; }

}  // namespace nv
