#include "steps/directx_setup.h"

#include <shlwapi.h>

#include <algorithm>

#include "localization/languages.h"
#include "steps/message_pump.h"
#include "nv/fixed_path.h"

namespace engine {
namespace {

using GetVersionFunction = int(WINAPI*)(DWORD* version, DWORD* revision);
using SetCallbackFunction = int(WINAPI*)(decltype(&DirectXSetupCallback) callback);
using SetupFunction = int(WINAPI*)(HWND owner, LPWSTR folder, DWORD flags);

template <class Function>
Function entryPoint(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(::GetProcAddress(module, name));
}

// Status text, progress-log caption and journal path of the step.
constexpr UINT captionString = 1131;
constexpr UINT okString = 1011;
constexpr UINT failedString = 1012;

}  // namespace

DWORD WINAPI DirectXSetupCallback(DWORD reason, DWORD, LPSTR, LPSTR, void*) {
  if (reason == directXProgressReason) {
    // A window procedure that throws must not unwind through the setup library.
    try {
      PumpMessages();
    } catch (...) {
    }
  }
  return 1;
}

void CDirectXSetup::Open(const std::wstring& folder) {
  folder_ = folder;
  module_.reset();
  const std::wstring path = nv::fixed_path::append(folder_, L"DSetup.dll");
  if (path.empty() || ::PathIsRelativeW(path.c_str())) return;
  // By its full path; the setup's companion library is then found beside it, in the working
  // folder, and nowhere else the default search would look.
  nv::unique_module library(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!library) return;
  const auto getVersion = entryPoint<GetVersionFunction>(library.get(), "DirectXSetupGetVersion");
  if (getVersion == nullptr) return;
  DWORD version = 0, revision = 0;
  if (getVersion(&version, &revision) != 0 && version >= minimumDirectXVersion &&
      revision >= minimumDirectXRevision)
    module_ = std::move(library);
}

bool CDirectXSetup::Run(HWND owner) {
  if (!module_) return false;
  const auto setCallback = entryPoint<SetCallbackFunction>(module_.get(), "DirectXSetupSetCallback");
  const auto setup = entryPoint<SetupFunction>(module_.get(), "DirectXSetupW");
  if (setCallback == nullptr || setup == nullptr) return false;
  setCallback(&DirectXSetupCallback);
  // The library takes a writable string; it gets its own copy of the folder.
  std::wstring folder = folder_;
  const int result = setup(owner, folder.data(), directXSetupFlags);
  return result == 0 || result == 1;
}

DirectXStepResult RunDirectXStep(CInstallJournal& journal, InstallProgress& progress,
                                 ExistingInstall existingInstall, const std::wstring& tempFolder) {
  CDirectXSetup setup(tempFolder);
  if (setup.module() == nullptr) return DirectXStepResult::Skipped;
  if (existingInstall != ExistingInstall::SameVersion &&
      std::any_of(journal.previousRecords.begin(), journal.previousRecords.end(),
                  [](const JournalRecord& record) {
                    return record.kind == RecordKind::DirectXUpdate && record.done;
                  }))
    return DirectXStepResult::Skipped;

  journal.BeginDirectXUpdate();
  const std::wstring caption = localizedString(captionString);
  progress.setStatus(caption);
  progress.appendLog(caption);
  const bool succeeded = setup.Run(progress.ownerWindow());
  journal.EndOperation(succeeded, caption.c_str());
  progress.appendLog(localizedString(succeeded ? okString : failedString) + L"\r\n");
  return succeeded ? DirectXStepResult::Succeeded : DirectXStepResult::Failed;
}

}  // namespace engine
