// Version resources (VS_VERSIONINFO) of the running executable and of other files, and the
// application identifier derived from the executable's own resource.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "nv/product.h"

namespace nv {

class version_info {
 public:
  // The running executable's own resource (RT_VERSION, identifier 1), read in place. The resource
  // is looked up once per process.
  version_info();
  // A copy of the version resource of the file at `path`. A file without one, or one that cannot
  // be read, gives an object without version information.
  explicit version_info(const std::wstring& path);

  // `data` and `fixed` point into the object's own copy.
  version_info(const version_info&) = delete;
  version_info& operator=(const version_info&) = delete;

  // The string value `name` of the first UTF-16 (code page 1200) translation, without its
  // terminator; empty when there is none.
  std::wstring value(std::wstring_view name) const;
  std::wstring product_name() const { return value(L"ProductName"); }
  std::wstring product_version() const { return value(L"ProductVersion"); }
  std::wstring legal_copyright() const { return value(L"LegalCopyright"); }

  // The fixed file version (dwFileVersionMS/LS); 0 without a fixed part.
  ProductVersion file_version() const noexcept;
  // dwFileFlags masked with dwFileFlagsMask; 0 without a fixed part.
  std::uint32_t file_flags() const noexcept;
  bool has_fixed_info() const noexcept { return fixed_ != nullptr; }

  // Product name and version for display: "Install 2.04a". A prerelease shows "bêta" as "beta"
  // unless the current language is French; private and debug builds are marked " – Private" and
  // " – Debug".
  std::wstring version_text() const;

  // The translation keys ("040004b0") of the UTF-16 translations, in table order.
  const std::vector<std::wstring>& translations() const noexcept { return translations_; }

 private:
  void parse();

  std::vector<std::byte> block_;
  const void* data_ = nullptr;
  std::uint32_t size_ = 0;
  const VS_FIXEDFILEINFO* fixed_ = nullptr;
  std::vector<std::wstring> translations_;
};

// The LCID of the current language. The language module installs its source at start-up; until
// then (and after set_current_lcid_source(nullptr)) it is English, 1033.
using lcid_source = LCID (*)();
void set_current_lcid_source(lcid_source source) noexcept;
LCID current_lcid();

// The application identifier under which the installer and the product see each other: empty
// until initialize_application_id() has run, then fixed for the life of the process.
const std::wstring& application_id();

// Sets the application identifier once (later calls change nothing): the own resource's
// "ApplicationId", else its "ProductName", else the stem of the program's file name. Called by
// the support library's start-up.
void initialize_application_id();

// The identifier for a program with resource `own` at `program_path`, by the rule above.
std::wstring derive_application_id(const version_info& own, const std::wstring& program_path);

}  // namespace nv
