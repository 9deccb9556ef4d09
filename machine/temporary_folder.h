// The private working folder of one installation run: files that are needed only while the
// installer runs (the DirectX setup and its cabinets) are extracted into a freshly named folder
// under the system temporary folder and removed with it when the run ends.
#pragma once

#include <string>
#include <system_error>
#include <vector>

#include <boost/uuid/uuid.hpp>

#include "nv/unique_handle.h"

namespace engine {

// Composes "<system temporary folder>nuvelle_{<random version-4 UUID>}" into `tempFolder`. On
// failure leaves `tempFolder` unchanged, sets `errorText` to "%08x (%s)" (an error code and the
// call that failed, e.g. "00000000 (GetTempPath)") and returns false. The folder is not created.
bool MakeTemporaryFolderName(std::wstring& tempFolder, std::wstring& errorText);

// The same with the UUID drawn from `uuidSource`, which may throw as the random generator does.
using UuidSource = boost::uuids::uuid (*)();
bool MakeTemporaryFolderName(std::wstring& tempFolder, std::wstring& errorText,
                             UuidSource uuidSource);

// Collects the files written into the working folder; destroying it deletes them (read-only
// ones included) and then the folder, passing over whatever cannot be removed and never following
// a link.
class CTemporaryFolder {
 public:
  // Makes itself the process-wide currentTemporaryFolder.
  explicit CTemporaryFolder(const std::wstring& tempFolder);
  ~CTemporaryFolder();
  CTemporaryFolder(const CTemporaryFolder&) = delete;
  CTemporaryFolder& operator=(const CTemporaryFolder&) = delete;

  // Creates the folder before anything is extracted into it, with a protected access list that
  // admits only Administrators and SYSTEM: the installing user's own programs cannot put or change
  // files in it. A folder that already exists is refused (ERROR_ALREADY_EXISTS), whoever made it,
  // and left alone when this object goes.
  std::error_code Create();

  // Records a file about to be written into the folder (full path).
  void AddFile(const std::wstring& file);

  // Keeps a written file open, shared for reading only, until this object goes: from then on
  // nobody can change, rename or delete it, so what is loaded later is what was proven.
  std::error_code HoldFile(const std::wstring& file);

  std::wstring path;
  std::vector<std::wstring> files;

 private:
  std::vector<nv::unique_handle> held_;
  bool refused_ = false;
};

// Deletes `files` of the working folder `folder`, read-only ones included, never following a link:
// a link in a file's place goes as a link, and nothing goes when the folder has become a link.
void DeleteWorkingFiles(const std::wstring& folder, const std::vector<std::wstring>& files);

// The working folder of the running installation, for the extraction callbacks; null when none.
extern CTemporaryFolder* currentTemporaryFolder;

}  // namespace engine
