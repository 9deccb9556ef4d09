#include "nv/version_info.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include <boost/format.hpp>

namespace nv {

namespace {

constexpr WORD unicode_code_page = 1200;
constexpr LANGID primary_french = LANG_FRENCH;  // 0x0C

struct resource_span {
  const void* data = nullptr;
  std::uint32_t size = 0;
};

// The running executable's RT_VERSION resource 1, located once per process.
const resource_span& own_version_resource() {
  static const resource_span span = [] {
    resource_span found;
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(1), RT_VERSION);
    if (!info) return found;
    HGLOBAL loaded = ::LoadResource(module, info);
    const DWORD size = ::SizeofResource(module, info);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (data && size != 0) {
      found.data = data;
      found.size = size;
    }
    return found;
  }();
  return span;
}

std::atomic<lcid_source> g_lcid_source{nullptr};

std::once_flag g_application_id_once;

// Function-local: the identifier is set by the start-up object, which runs before the dynamic
// initialisation of ordinary namespace-scope objects (that would empty it again).
std::wstring& application_id_slot() {
  static std::wstring id;
  return id;
}

// The program path recorded by the run-time library at start, else the module's file name.
std::wstring program_path() {
  if (_wpgmptr && *_wpgmptr) return _wpgmptr;
  wchar_t buffer[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return buffer;
}

}  // namespace

version_info::version_info() {
  const resource_span& own = own_version_resource();
  data_ = own.data;
  size_ = own.size;
  parse();
}

version_info::version_info(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size != 0) {
    block_.assign(size, std::byte{0});
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, block_.data())) block_.clear();
  }
  data_ = block_.empty() ? nullptr : block_.data();
  size_ = static_cast<std::uint32_t>(block_.size());
  parse();
}

void version_info::parse() {
  if (size_ == 0) return;
  void* fixed = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data_, L"\\", &fixed, &length) || !fixed) return;
  fixed_ = static_cast<const VS_FIXEDFILEINFO*>(fixed);

  void* table = nullptr;
  length = 0;
  if (!::VerQueryValueW(data_, L"\\VarFileInfo\\Translation", &table, &length) || !table) return;
  const WORD* entry = static_cast<const WORD*>(table);
  for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) {
    const WORD language = entry[i];
    const WORD code_page = entry[i + 1];
    if (code_page == unicode_code_page)
      translations_.push_back((boost::wformat(L"%04hx%04hx") % language % code_page).str());
  }
}

std::wstring version_info::value(std::wstring_view name) const {
  if (size_ == 0 || translations_.empty()) return {};
  std::wstring sub_block = L"\\StringFileInfo\\" + translations_.front() + L"\\";
  sub_block += name;
  void* text = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data_, sub_block.c_str(), &text, &length) || !text || length == 0)
    return {};
  std::wstring result(static_cast<const wchar_t*>(text), length);
  if (result.back() == L'\0') result.pop_back();
  return result;
}

ProductVersion version_info::file_version() const noexcept {
  return fixed_ ? make_version(fixed_->dwFileVersionMS, fixed_->dwFileVersionLS) : 0;
}

std::uint32_t version_info::file_flags() const noexcept {
  return fixed_ ? fixed_->dwFileFlags & fixed_->dwFileFlagsMask : 0;
}

std::wstring version_info::version_text() const {
  std::wstring text = product_name();
  const std::wstring version = product_version();
  if (!version.empty()) {
    text += L' ';
    text += version;
  }
  const std::uint32_t flags = file_flags();
  if ((flags & VS_FF_PRERELEASE) && (current_lcid() & 0x3FF) != primary_french) {
    const std::wstring_view accented = L"b\u00EAta";
    const auto at = text.rfind(accented);
    if (at != std::wstring::npos) text.replace(at, accented.size(), L"beta");
  }
  if (flags & VS_FF_PRIVATEBUILD) text += L" \u2013 Private";
  if (flags & VS_FF_DEBUG) text += L" \u2013 Debug";
  return text;
}

void set_current_lcid_source(lcid_source source) noexcept { g_lcid_source.store(source); }

LCID current_lcid() {
  const lcid_source source = g_lcid_source.load();
  return source ? source() : MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
}

const std::wstring& application_id() { return application_id_slot(); }

void initialize_application_id() {
  std::call_once(g_application_id_once, [] {
    const version_info own;
    application_id_slot() = derive_application_id(own, program_path());
  });
}

std::wstring derive_application_id(const version_info& own, const std::wstring& program_path) {
  std::wstring id = own.value(L"ApplicationId");
  if (id.empty()) id = own.product_name();
  if (id.empty()) id = std::filesystem::path(program_path).stem().wstring();
  return id;
}

}  // namespace nv
