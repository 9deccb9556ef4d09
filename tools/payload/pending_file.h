// Output of the release tools under a temporary name: a file is written beside its final place
// and renamed only when complete, so that a failure never leaves a half-written file behind.
#pragma once

#include <filesystem>
#include <string_view>

namespace payload_tool {

// A file under a temporary name that is deleted when its owner goes, unless it was renamed to
// its final name.
class pending_file {
 public:
  // Creates an empty file with a unique name in `folder`, the name starting with `prefix` (at
  // most three characters) and ending with ".tmp".
  pending_file(const std::filesystem::path& folder, const wchar_t* prefix);
  pending_file(const pending_file&) = delete;
  pending_file& operator=(const pending_file&) = delete;
  ~pending_file();

  const std::filesystem::path& path() const { return path_; }

  // Replaces the content by `bytes`, through the file itself: a link put in its place since it
  // was created is refused, not followed.
  void write(std::string_view bytes);

  // Renames the file to `target`, replacing a file there.
  void commit(const std::filesystem::path& target);

  // Renames the file to `target`, which must not exist: nothing there is ever replaced.
  void commit_new(const std::filesystem::path& target);

 private:
  void rename(const std::filesystem::path& target, unsigned long flags);
  std::filesystem::path path_;
};

}  // namespace payload_tool
