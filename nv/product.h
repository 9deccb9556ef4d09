// Product identity and version: which product this installer brings, under which registry name,
// with which labels and in which version, and where an earlier installation put the product.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace nv {

// High byte: product family; low byte: the product's major version. Tessaline 7 is 0x0307.
using product_id = std::uint16_t;

inline constexpr product_id tessaline_7 = 0x0307;

// The process-wide product, 0 until the application object sets it once at construction.
product_id current_product() noexcept;
void set_current_product(product_id id) noexcept;

// The registry name of `id` (registry key name, folder name and start of the product path value
// name), for example L"Tessaline 7". Raises std::logic_error("logic error") for an identifier
// that the product table does not hold.
const std::wstring& product_registry_name(product_id id);

// L"Tessaline" when `name_only`, otherwise the name, a space and the version label:
// L"Tessaline 7.08v".
std::wstring product_label(bool name_only);

// Full path of the installed product's main executable as recorded by an earlier installation
// under HKEY_LOCAL_MACHINE\Software\Nuvelle, value "<registry name> Path". Empty when nothing is
// recorded or the recorded entry no longer exists. Looked up on the first call and kept for the
// life of the process. Registry failures other than a missing key or value raise
// std::system_error (and leave the lookup to the next call).
std::wstring product_path();

// --- Versions ------------------------------------------------------------------------------

// Four 16-bit fields, most significant first: major, minor, build, revision. Versions compare
// as plain unsigned integers, which orders them field by field.
using ProductVersion = std::uint64_t;

constexpr ProductVersion make_version(std::uint16_t major, std::uint16_t minor,
                                      std::uint16_t build, std::uint16_t revision) noexcept {
  return (ProductVersion{major} << 48) | (ProductVersion{minor} << 32) |
         (ProductVersion{build} << 16) | ProductVersion{revision};
}

// From the fixed part of a version resource: dwFileVersionMS is the high half, dwFileVersionLS
// the low half.
constexpr ProductVersion make_version(std::uint32_t file_version_ms,
                                      std::uint32_t file_version_ls) noexcept {
  return (ProductVersion{file_version_ms} << 32) | file_version_ls;
}

constexpr std::uint16_t version_major(ProductVersion v) noexcept {
  return static_cast<std::uint16_t>(v >> 48);
}
constexpr std::uint16_t version_minor(ProductVersion v) noexcept {
  return static_cast<std::uint16_t>(v >> 32);
}
constexpr std::uint16_t version_build(ProductVersion v) noexcept {
  return static_cast<std::uint16_t>(v >> 16);
}
constexpr std::uint16_t version_revision(ProductVersion v) noexcept {
  return static_cast<std::uint16_t>(v);
}

namespace details {
// Appends `value` in decimal, with at least `min_digits` digits.
constexpr void append_decimal(std::wstring& text, unsigned value, unsigned min_digits = 1) {
  std::wstring digits;
  do {
    digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
    value /= 10;
  } while (value != 0);
  if (digits.size() < min_digits) digits.insert(0, min_digits - digits.size(), L'0');
  text += digits;
}
}  // namespace details

// "major.minor.build.revision" in decimal, for example L"7.8.22.1".
constexpr std::wstring version_dotted(ProductVersion v) {
  std::wstring text;
  details::append_decimal(text, version_major(v));
  text += L'.';
  details::append_decimal(text, version_minor(v));
  text += L'.';
  details::append_decimal(text, version_build(v));
  text += L'.';
  details::append_decimal(text, version_revision(v));
  return text;
}

// The version label: the major version, a point, the minor version with at least two digits and
// the build number as lower-case letters (1 = "a" ... 26 = "z", then "aa", "ab", ... as in
// spreadsheet columns; build 0 has no letter). The revision does not appear.
// 7.8.22.1 -> L"7.08v", 2.4.1.1 -> L"2.04a".
constexpr std::wstring version_label(ProductVersion v) {
  std::wstring text;
  details::append_decimal(text, version_major(v));
  text += L'.';
  details::append_decimal(text, version_minor(v), 2);
  std::wstring letters;
  for (unsigned build = version_build(v); build != 0; build = (build - 1) / 26)
    letters.insert(letters.begin(), static_cast<wchar_t>(L'a' + (build - 1) % 26));
  return text + letters;
}

// 16 lower-case hexadecimal digits with leading zeros, as passed on a command line:
// 7.8.22.1 -> L"0007000800160001".
std::wstring version_hex(ProductVersion v);

// The version of the product that this installer brings, in its three forms. They must agree
// with each other and with the fixed file version of the product's executable in the payload.
inline constexpr ProductVersion product_version = 0x0007000800160001;  // 7.8.22.1
inline constexpr std::wstring_view product_version_text = L"7.8.22.1";
inline constexpr std::wstring_view product_version_label = L"7.08v";

static_assert(version_dotted(product_version) == product_version_text);
static_assert(version_label(product_version) == product_version_label);

// The product name, the product label without version.
inline constexpr std::wstring_view product_name = L"Tessaline";

namespace details {
// For tests only: forgets the cached product path so that the next product_path() looks it up
// again. The installer itself never calls this; the path is a once-per-process value.
void reset_product_path_cache_for_tests();
}  // namespace details

}  // namespace nv
