// Destination folders of payload entries: the thirteen path tokens (<InstallPath>, <CommonData>,
// ...), their resolution to real folders, and the list of shared folders below machine-wide roots
// that are opened to the local Users group when the first file below them is written.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace engine {

// The three caller-supplied folders behind <InstallPath>, <SamplePath> and <Temporary>.
struct DestinationRoots {
  std::wstring installFolder;
  std::wstring samplesFolder;    // empty, absolute, or relative to the public desktop
  std::wstring temporaryFolder;  // may be empty: <Temporary> then means the install folder
};

// Folders whose access is opened to all users, each granted at most once.
class SharedFolders {
 public:
  // Registers `folder`, formed below the machine-wide folder `root`, unless the same folder (same
  // text, same file identity, or equal absolute forms ignoring case) is registered already.
  void add(const std::filesystem::path& folder, const std::filesystem::path& root);

  // Grants Users full access on every registered, not yet granted folder that is `folder` itself
  // or one of its ancestors. Called with the folder of every file about to be written; never
  // fails. A folder reached through a link below its root (a junction a user put there) is not
  // granted, and not tried again.
  void grant_shared_folders(const std::filesystem::path& folder);

  struct Entry {
    std::filesystem::path folder;
    bool granted = false;
    std::filesystem::path root;  // the machine-wide folder it was formed below
  };
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  std::vector<Entry> entries_;
};

// True when `component` has the form of a path token: it begins with "<" and ends with ">".
// Whether it names one of the thirteen is decided when it is resolved.
bool is_path_token(const std::wstring& component);

// Every path token a destination may start with: <InstallPath>, <SamplePath>, the system
// folders' tokens and <Temporary>.
const std::vector<std::wstring>& path_token_names();

// Replaces the leading token of `destination` by its base folder; registers the folders formed
// below a shared root in `shared`. Throws std::system_error(compress_errc::unexpected) when a
// needed system folder cannot be determined.
std::filesystem::path resolve_destination(const std::filesystem::path& destination,
                                          const DestinationRoots& roots, SharedFolders& shared);

// The folder of CSIDL `primary` (current path, not created), else of `fallback` when
// `use_fallback`; throws std::system_error(compress_errc::unexpected) when neither yields one.
std::wstring known_folder(int primary, int fallback, bool use_fallback);

// Test hooks. Not for production code.
namespace path_token_hooks {
// Replaces the system-folder lookup used by known_folder; an empty function restores
// system_folder. A lookup returning an empty text means the CSIDL yields nothing.
void set_folder_lookup(std::function<std::wstring(int csidl)> lookup);
// Replaces the Users access grant applied by SharedFolders::grant_shared_folders; an empty
// function restores nv::grant_users_access.
void set_grant(std::function<bool(const std::wstring& folder, unsigned long access_mask,
                                  unsigned char ace_flags)> grant);
}  // namespace path_token_hooks

}  // namespace engine
