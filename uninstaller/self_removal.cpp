#include "uninstaller/self_removal.h"

#include <cwchar>

#include "machine/admin_folder.h"
#include "machine/temporary_folder.h"
#include "nv/fixed_path.h"
#include "nv/link_check.h"
#include "nv/system_failure.h"
#include "nv/unique_handle.h"
#include "uninstaller/removal_steps.h"

namespace uninstaller {

namespace {

constexpr DWORD kWaitForUninstaller = 60'000;
constexpr int kDeleteAttempts = 50;  // 10 s in all: the system may still hold the image
constexpr DWORD kDeletePause = 200;

std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// Removes `path`, a file or an empty folder, trying again while the ended uninstaller's image is
// still held; a file still held at the end, and a folder that holds only such files, go at the
// next restart and are added to `scheduled`.
void removeAfterExit(const std::wstring& path, std::vector<std::wstring>& scheduled) {
  const nv::file_facts facts = nv::facts_of(path);
  if (facts.attributes == INVALID_FILE_ATTRIBUTES) return;
  StepResult result;
  if ((facts.attributes & FILE_ATTRIBUTE_DIRECTORY) && !nv::is_link(facts)) {
    // The paths were handed over by the uninstaller: each goes exactly where it names.
    result = RemoveEmptyFolder(path, {}, scheduled);
  } else {
    for (int attempt = 1; attempt < kDeleteAttempts; ++attempt) {
      result = RemoveFileOrLink(path, {}, WhenInUse::report);
      if (result.outcome != Outcome::failed || !IsInUseError(result.error)) return;
      ::Sleep(kDeletePause);
    }
    result = RemoveFileOrLink(path, {}, WhenInUse::schedule);
  }
  if (result.outcome == Outcome::scheduled) scheduled.push_back(path);
}

}  // namespace

std::error_code StartFinisher(const std::wstring& ownExecutable,
                              const std::vector<std::wstring>& paths) {
  std::wstring folder;
  std::wstring errorText;
  if (!engine::MakeTemporaryFolderName(folder, errorText))
    return std::make_error_code(std::errc::no_such_file_or_directory);
  if (const std::error_code error = engine::CreateAdminFolder(folder)) return error;
  // The folder lies in the user's temporary folder, whose owner may rename what it holds. Held
  // open without sharing its deletion, the new folder (and so the path of everything in it) can
  // be neither renamed nor swapped for a link until the finisher has started; only
  // administrators may change what is inside.
  nv::unique_handle held(::CreateFileW(
      folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION facts{};
  if (!held || !::GetFileInformationByHandle(held.get(), &facts) ||
      (facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      !(facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return std::make_error_code(std::errc::permission_denied);
  const std::wstring copy = nv::fixed_path::append(folder, nv::fixed_path::file_name(ownExecutable));
  // Whatever stops the finisher from starting takes its copy and folder away again.
  const auto removeCopy = [&] {
    const std::error_code error = nv::last_system_failure();
    ::SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(copy.c_str());
    // The folder is now empty: whatever might stand at its name afterwards is removed only if
    // empty, or as a link.
    held.reset();
    ::RemoveDirectoryW(folder.c_str());
    return error;
  };
  if (!::CopyFileW(ownExecutable.c_str(), copy.c_str(), TRUE)) return removeCopy();
  // The copy takes the installed uninstaller's read-only attribute along; a read-only file is
  // neither deleted nor scheduled for deletion at the restart, so it goes.
  if (!::SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL)) return removeCopy();

  // The finisher learns of the uninstaller's end through a handle it inherits.
  HANDLE self = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(),
                         &self, SYNCHRONIZE, TRUE, 0))
    return removeCopy();
  const nv::unique_handle selfHandle(self);

  std::wstring commandLine = quoted(copy) + L" " + kFinishOption +
                             std::to_wstring(reinterpret_cast<UINT_PTR>(self));
  for (const auto& path : paths) commandLine += L" " + quoted(path);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW, nullptr, folder.c_str(), &startup, &process))
    return removeCopy();
  const nv::unique_handle processHandle(process.hProcess);
  const nv::unique_handle threadHandle(process.hThread);
  return {};
}

int RunFinisher(const std::vector<std::wstring>& arguments, const std::wstring& ownExecutable) {
  constexpr std::size_t optionLength = sizeof kFinishOption / sizeof kFinishOption[0] - 1;
  if (arguments.empty() || arguments[0].size() <= optionLength ||
      _wcsnicmp(arguments[0].c_str(), kFinishOption, optionLength) != 0)
    return 87;
  wchar_t* end = nullptr;
  const auto value = std::wcstoull(arguments[0].c_str() + optionLength, &end, 10);
  if (*end != L'\0') return 87;
  const nv::unique_handle uninstaller(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(value)));
  ::WaitForSingleObject(uninstaller.get(), kWaitForUninstaller);

  std::vector<std::wstring> scheduled;
  for (std::size_t i = 1; i < arguments.size(); ++i) removeAfterExit(arguments[i], scheduled);

  // The copy and its folder go at the next restart.
  ::MoveFileExW(ownExecutable.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  const std::wstring folder = nv::fixed_path::remove_file_spec(ownExecutable);
  ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return 0;
}

}  // namespace uninstaller
