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

std::mutex cache_mutex;
std::optional<folders> cache;

const folders& resolved() {
  const std::lock_guard lock(cache_mutex);
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
