#include "tools/payload/winget_manifest.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "app/unattended_install.h"
#include "steps/product_registration.h"
#include "nv/product.h"
#include "nv/unique_handle.h"
#include "nv/utf8.h"
#include "tools/payload/installer_image.h"
#include "tools/payload/pending_file.h"

namespace payload_tool {
namespace {

namespace fs = std::filesystem;

// The package's name in the package manager's repositories. It stays the same from version to
// version (and if the names shown in the list of installed programs change), so it is not
// derived from them.
constexpr char package_identifier[] = "Nuvelle.Tessaline";
constexpr char manifest_version[] = "1.10.0";
constexpr char package_locale[] = "en-US";

std::string utf8(const fs::path& path) { return nv::to_utf8(path.native()); }

std::string windows_error(const std::string& what, DWORD error = ::GetLastError()) {
  return what + " (error " + std::to_string(error) + ")";
}

// --- SHA-256 with the system's cryptographic provider ---------------------------------------

// Owner of a provider context. The handle is an integer, not a pointer, so nv::unique_resource
// does not fit.
class crypt_provider {
 public:
  crypt_provider() {
    if (!::CryptAcquireContextW(&handle_, nullptr, nullptr, PROV_RSA_AES,
                                CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
      throw std::runtime_error(windows_error("no cryptographic provider for SHA-256"));
  }
  crypt_provider(const crypt_provider&) = delete;
  crypt_provider& operator=(const crypt_provider&) = delete;
  ~crypt_provider() { ::CryptReleaseContext(handle_, 0); }
  HCRYPTPROV get() const { return handle_; }

 private:
  HCRYPTPROV handle_ = 0;
};

// Owner of a hash object of `provider`, which must outlive it.
class crypt_hash {
 public:
  crypt_hash(const crypt_provider& provider, ALG_ID algorithm) {
    if (!::CryptCreateHash(provider.get(), algorithm, 0, 0, &handle_))
      throw std::runtime_error(windows_error("cannot start a SHA-256 hash"));
  }
  crypt_hash(const crypt_hash&) = delete;
  crypt_hash& operator=(const crypt_hash&) = delete;
  ~crypt_hash() { ::CryptDestroyHash(handle_); }
  HCRYPTHASH get() const { return handle_; }

 private:
  HCRYPTHASH handle_ = 0;
};

// --- YAML -------------------------------------------------------------------------------------

bool is_ascii_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// `text` as a YAML scalar that reads back as exactly this string: plain when it is a word or
// words of letters, digits, '.', '-' and '_' that starts with a letter and is no word YAML
// reads as a truth value or null; otherwise in double quotes with '"', '\' and control
// characters escaped (versions, switches with quotes and angle brackets, addresses).
std::string scalar(std::string_view text) {
  static constexpr std::string_view special[] = {"y", "n", "yes", "no", "on", "off",
                                                 "true", "false", "null"};
  bool plain = !text.empty() && is_ascii_alpha(text.front()) && text.back() != ' ';
  for (char c : text)
    plain = plain && (is_ascii_alpha(c) || is_ascii_digit(c) || c == ' ' || c == '.' ||
                      c == '-' || c == '_');
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
  plain = plain && std::find(std::begin(special), std::end(special), lower) == std::end(special);
  if (plain) return std::string(text);
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20 || byte == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", unsigned(byte));
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

// "KEY: VALUE" on a line of its own, indented by `indent` (which holds a list's "- " where the
// line opens an item).
std::string field(std::string_view indent, std::string_view key, std::string_view value) {
  return std::string(indent) + std::string(key) + ": " + scalar(value) + "\n";
}

std::string number_field(std::string_view indent, std::string_view key, long long value) {
  return std::string(indent) + std::string(key) + ": " + std::to_string(value) + "\n";
}

// The schema comment that editors validate the file by, then the identity every file repeats.
std::string header(std::string_view type, std::string_view version) {
  return "# yaml-language-server: $schema=https://aka.ms/winget-manifest." + std::string(type) +
         "." + manifest_version + ".schema.json\n\n" +
         field("", "PackageIdentifier", package_identifier) +
         field("", "PackageVersion", version);
}

std::string footer(std::string_view type) {
  return field("", "ManifestType", type) + field("", "ManifestVersion", manifest_version);
}

// The unattended installation's exit codes other than 0, with what each tells the package
// manager. An installation never needs a restart, so 3010 is not among them.
struct return_code {
  int code;
  const char* response;
};
constexpr return_code return_codes[] = {
    {UnattendedExit::Busy, "installInProgress"},
    {UnattendedExit::NewerInstalled, "downgrade"},
    {UnattendedExit::NotAdministrator, "blockedByPolicy"},
    {UnattendedExit::BadCommandLine, "invalidParameter"},
    {UnattendedExit::ProcessorUnsupported, "systemNotSupported"},
};

// One file of the manifest: its name and its UTF-8 text.
struct winget_file {
  std::wstring name;
  std::string text;
};

// Why `url` cannot be the installer's download address, empty when it can: only http:// and
// https:// with a host, printable ASCII without blanks, at most 2048 characters.
std::string winget_url_fault(const std::wstring& url) {
  std::wstring lower = url;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](wchar_t c) { return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c; });
  std::size_t host = 0;
  for (const std::wstring_view scheme : {L"http://", L"https://"})
    if (lower.starts_with(scheme)) host = scheme.size();
  if (host == 0) return "the address must start with http:// or https://";
  if (host == url.size() || url[host] == L'/') return "the address names no host";
  if (url.size() > 2048) return "the address is longer than 2048 characters";
  if (std::any_of(url.begin(), url.end(), [](wchar_t c) { return c <= L' ' || c >= 0x7f; }))
    return "the address holds a blank, a control character or a character outside ASCII "
           "(percent-encode it)";
  return {};
}

// The SHA-256 of the file's content in upper-case hexadecimal, computed with the system's
// cryptographic provider.
std::string file_sha256(const fs::path& file) {
  const nv::unique_handle in(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!in) throw std::runtime_error(windows_error("cannot read " + utf8(file)));
  const crypt_provider provider;
  const crypt_hash hash(provider, CALG_SHA_256);
  const auto buffer = std::make_unique<BYTE[]>(1 << 16);
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(in.get(), buffer.get(), 1 << 16, &read, nullptr))
      throw std::runtime_error(windows_error("cannot read " + utf8(file)));
    if (read == 0) break;
    if (!::CryptHashData(hash.get(), buffer.get(), read, 0))
      throw std::runtime_error(windows_error("cannot hash " + utf8(file)));
  }
  BYTE digest[32];
  DWORD size = sizeof digest;
  if (!::CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &size, 0) || size != sizeof digest)
    throw std::runtime_error(windows_error("cannot hash " + utf8(file)));
  std::string hex;
  for (const BYTE b : digest) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", unsigned(b));
    hex += pair;
  }
  return hex;
}

// The three files for an installer whose SHA-256 is `sha256` and that is downloaded from `url`,
// an address winget_url_fault accepts.
std::vector<winget_file> winget_manifest(const std::string& sha256, const std::string& url) {
  // The tool makes releases of the product this installer brings (no application object sets
  // the current product here).
  const auto entry = engine::InstalledProgram(nv::tessaline_7);
  // The package manager tells an installed version by the uninstall key's DisplayVersion.
  const std::string version = nv::to_utf8(entry.displayVersion);
  const std::string product_code = nv::to_utf8(entry.keyName);
  const std::wstring id = nv::from_utf8(package_identifier);

  std::string version_file = header("version", version) +
                             field("", "DefaultLocale", package_locale) + footer("version");

  std::string installer = header("installer", version);
  installer += field("", "InstallerType", "exe");
  installer += field("", "Scope", "machine");
  installer += "InstallModes:\n- interactive\n- silent\n";
  // The options of an unattended installation; the package manager puts the paths for the
  // tokens, and the installer takes a quoted value with blanks as one path.
  installer += "InstallerSwitches:\n";
  installer += field("  ", "Silent", "/S");
  installer += field("  ", "SilentWithProgress", "/S");
  installer += field("  ", "InstallLocation", "/D=\"<INSTALLPATH>\"");
  installer += field("  ", "Log", "/LOG=\"<LOGPATH>\"");
  installer += "ExpectedReturnCodes:\n";
  for (const return_code& r : return_codes)
    installer += number_field("- ", "InstallerReturnCode", r.code) +
                 field("  ", "ReturnResponse", r.response);
  installer += field("", "UpgradeBehavior", "install");
  // The installer's manifest asks for administrator rights; without them it ends with 740.
  installer += field("", "ElevationRequirement", "elevationRequired");
  installer += field("", "ProductCode", product_code);
  installer += "AppsAndFeaturesEntries:\n";
  installer += field("- ", "DisplayName", nv::to_utf8(entry.displayName));
  installer += field("  ", "Publisher", nv::to_utf8(entry.publisher));
  installer += field("  ", "DisplayVersion", version);
  installer += field("  ", "ProductCode", product_code);
  installer += field("  ", "InstallerType", "exe");
  installer += "Installers:\n";
  installer += field("- ", "Architecture", "x86");
  installer += field("  ", "InstallerUrl", url);
  installer += field("  ", "InstallerSha256", sha256);
  installer += footer("installer");

  std::string locale = header("defaultLocale", version);
  locale += field("", "PackageLocale", package_locale);
  locale += field("", "Publisher", nv::to_utf8(entry.publisher));
  locale += field("", "PublisherUrl", nv::to_utf8(engine::makerWebAddress));
  locale += field("", "PackageName", nv::to_utf8(nv::product_name));
  locale += field("", "License", "Proprietary");
  locale += field("", "ShortDescription",
                  nv::to_utf8(nv::product_name) + " is a desktop design program by " +
                      nv::to_utf8(entry.publisher) + ".");
  locale += footer("defaultLocale");

  return {{id + L".yaml", std::move(version_file)},
          {id + L".installer.yaml", std::move(installer)},
          {id + L".locale." + nv::from_utf8(package_locale) + L".yaml", std::move(locale)}};
}

// The folders that making `folder` creates, outermost first, removed again (when empty) unless
// kept: a refused or failed run leaves no folder of its own behind.
class created_folders {
 public:
  explicit created_folders(const fs::path& folder) {
    const fs::path full = fs::absolute(folder);
    for (fs::path f = full; !f.empty() && !fs::exists(f) && f != f.parent_path();
         f = f.parent_path())
      made_.insert(made_.begin(), f);
    fs::create_directories(full);
  }
  created_folders(const created_folders&) = delete;
  created_folders& operator=(const created_folders&) = delete;
  ~created_folders() {
    for (auto f = made_.rbegin(); f != made_.rend(); ++f) ::RemoveDirectoryW(f->c_str());
  }
  void keep() { made_.clear(); }

 private:
  std::vector<fs::path> made_;
};

}  // namespace

std::vector<fs::path> write_winget_manifest(const fs::path& installer, const std::wstring& url,
                                            const fs::path& outdir) {
  if (const std::string fault = winget_url_fault(url); !fault.empty())
    throw std::runtime_error("bad URL " + nv::to_utf8(url) + ": " + fault);
  if (payload_variants(installer).empty())
    throw std::runtime_error("no payload resource (type 260, name 134) in " + utf8(installer) +
                             ": not an installer");
  if (find_certificate_table(installer).size == 0)
    throw std::runtime_error(utf8(installer) + " is not signed: the manifest is for the signed "
                             "installer (sign it with scripts/sign.sh first)");

  auto files = winget_manifest(file_sha256(installer), nv::to_utf8(url));
  const DWORD attributes = ::GetFileAttributesW(outdir.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT || !(attributes & FILE_ATTRIBUTE_DIRECTORY)))
    throw std::runtime_error(utf8(outdir) + " is a link or a file: name a new folder");
  for (const auto& file : files)
    if (fs::exists(fs::symlink_status(outdir / file.name)))
      throw std::runtime_error(utf8(outdir / file.name) +
                               " exists already: a release writes a new folder");

  created_folders folders(outdir);
  std::vector<std::unique_ptr<pending_file>> pending;
  for (const auto& file : files) {
    pending.push_back(std::make_unique<pending_file>(outdir, L"wgt"));
    pending.back()->write(file.text);
  }
  std::vector<fs::path> written;
  try {
    for (std::size_t i = 0; i < files.size(); ++i) {
      pending[i]->commit_new(outdir / files[i].name);
      written.push_back(outdir / files[i].name);
    }
  } catch (...) {
    for (const auto& path : written) ::DeleteFileW(path.c_str());
    throw;
  }
  folders.keep();
  return written;
}

}  // namespace payload_tool
