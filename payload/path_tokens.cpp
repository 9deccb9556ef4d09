#include "payload/path_tokens.h"

#include <windows.h>
#include <shlobj.h>

#include <cwctype>
#include <string_view>
#include <system_error>

#include "payload/compress_error.h"
#include "machine/machine_folders.h"
#include "machine/same_path.h"
#include "nv/link_check.h"
#include "nv/security.h"

namespace engine {
namespace {

namespace fs = std::filesystem;

// Full file access for the Users group, inherited by files and subfolders.
constexpr unsigned long kSharedAccessMask = 0x001F01FF;
constexpr unsigned char kSharedAceFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

constexpr int kNoFallback = -1;

std::function<std::wstring(int)>& folder_lookup() {
  static std::function<std::wstring(int)> lookup;
  return lookup;
}

std::function<bool(const std::wstring&, unsigned long, unsigned char)>& grant_function() {
  static std::function<bool(const std::wstring&, unsigned long, unsigned char)> grant;
  return grant;
}

// A token row whose base is a system folder.
struct SystemToken {
  std::wstring_view token;
  int primary;
  int fallback;
  bool shared;
};

// Table order; <InstallPath>, <SamplePath> and <Temporary> come from the caller's roots.
constexpr SystemToken kSystemTokens[] = {
    {L"<ProgramFiles>", CSIDL_PROGRAM_FILES, kNoFallback, false},
    {L"<ProgramCommon>", CSIDL_PROGRAM_FILES_COMMON, kNoFallback, false},
    {L"<CommonData>", CSIDL_COMMON_APPDATA, CSIDL_APPDATA, true},
    {L"<UserData>", CSIDL_APPDATA, kNoFallback, false},
    {L"<CommonDocuments>", CSIDL_COMMON_DOCUMENTS, CSIDL_PERSONAL, true},
    {L"<Documents>", CSIDL_PERSONAL, kNoFallback, false},
    {L"<CommonDesktop>", CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY, true},
    {L"<Desktop>", CSIDL_DESKTOPDIRECTORY, kNoFallback, false},
    {L"<WinDir>", CSIDL_WINDOWS, kNoFallback, false},
    {L"<System>", CSIDL_SYSTEM, kNoFallback, false},
};

fs::path public_desktop() {
  return known_folder(CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY, true);
}

// Absolute in the sense of the samples folder: a drive letter, a colon and a separator, or a
// root name of its own (\\server\share, \\?\...). Checked on the text because the library's
// path type does not recognise every Windows root name.
bool is_absolute_samples_folder(const std::wstring& folder) {
  auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  if (folder.size() >= 3 && std::iswalpha(folder[0]) && folder[1] == L':' && separator(folder[2]))
    return true;
  return folder.size() >= 3 && separator(folder[0]) && separator(folder[1]) &&
         !separator(folder[2]);
}

// The base folder of `token` and whether the folders formed below it are shared. An unknown
// token has an empty base.
fs::path token_base(const std::wstring& token, const DestinationRoots& roots,
                    SharedFolders& shared, bool& is_shared) {
  is_shared = false;
  if (token == L"<InstallPath>") return roots.installFolder;
  if (token == L"<SamplePath>") {
    if (roots.samplesFolder.empty()) return public_desktop();
    if (is_absolute_samples_folder(roots.samplesFolder)) return roots.samplesFolder;
    const fs::path desktop = public_desktop();
    fs::path folder = desktop / roots.samplesFolder;
    shared.add(folder, desktop);
    return folder;
  }
  for (const SystemToken& row : kSystemTokens) {
    if (token == row.token) {
      is_shared = row.shared;
      return known_folder(row.primary, row.fallback, row.fallback != kNoFallback);
    }
  }
  if (token == L"<Temporary>")
    return roots.temporaryFolder.empty() ? roots.installFolder : roots.temporaryFolder;
  return {};
}

enum class PathType { directory, other, missing, unknown };

PathType path_type(const fs::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return PathType::missing;
    return PathType::unknown;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathType::directory : PathType::other;
}

}  // namespace

std::wstring known_folder(int primary, int fallback, bool use_fallback) {
  const auto& hook = folder_lookup();
  auto lookup = [&](int csidl) { return hook ? hook(csidl) : system_folder(csidl); };
  std::wstring folder = lookup(primary);
  if (folder.empty() && use_fallback) folder = lookup(fallback);
  if (folder.empty()) throw std::system_error(make_error_code(compress_errc::unexpected));
  return folder;
}

const std::vector<std::wstring>& path_token_names() {
  static const std::vector<std::wstring> names = [] {
    std::vector<std::wstring> all = {L"<InstallPath>", L"<SamplePath>"};
    for (const SystemToken& row : kSystemTokens) all.emplace_back(row.token);
    all.emplace_back(L"<Temporary>");
    return all;
  }();
  return names;
}

bool is_path_token(const std::wstring& component) {
  return component.size() >= 2 && component.front() == L'<' && component.back() == L'>';
}

fs::path resolve_destination(const fs::path& destination, const DestinationRoots& roots,
                             SharedFolders& shared) {
  if (destination.empty()) return destination;
  auto component = destination.begin();
  const std::wstring token = component->native();
  if (!is_path_token(token)) return destination;

  bool is_shared = false;
  fs::path result = token_base(token, roots, shared, is_shared);
  const fs::path base = result;
  for (++component; component != destination.end(); ++component) {
    if (component->empty()) continue;  // a trailing separator
    result = result.empty() ? *component : result / *component;
    if (is_shared) shared.add(result, base);
  }
  return result;
}

void SharedFolders::add(const fs::path& folder, const fs::path& root) {
  for (const Entry& entry : entries_)
    if (SamePath(entry.folder, folder)) return;
  entries_.push_back(Entry{folder, false, root});
}

void SharedFolders::grant_shared_folders(const fs::path& folder) {
  for (Entry& entry : entries_) {
    if (entry.granted) continue;
    fs::path p = folder;
    for (;;) {
      const PathType type = path_type(p);
      if (type != PathType::directory) break;  // a file, missing, or an error: try again later
      if (SamePath(p, entry.folder)) {
        // Marked first: the grant is not retried whatever its outcome.
        entry.granted = true;
        if (!nv::first_link_below(entry.root.native(), entry.folder.native()).empty()) break;
        const auto& hook = grant_function();
        if (hook)
          hook(entry.folder.native(), kSharedAccessMask, kSharedAceFlags);
        else
          nv::grant_users_access(entry.folder.native(), kSharedAccessMask, kSharedAceFlags);
        break;
      }
      fs::path parent = p.parent_path();
      if (parent.native().size() >= p.native().size()) break;
      p = std::move(parent);
    }
  }
}

namespace path_token_hooks {

void set_folder_lookup(std::function<std::wstring(int csidl)> lookup) {
  folder_lookup() = std::move(lookup);
}

void set_grant(std::function<bool(const std::wstring& folder, unsigned long access_mask,
                                  unsigned char ace_flags)> grant) {
  grant_function() = std::move(grant);
}

}  // namespace path_token_hooks

}  // namespace engine
