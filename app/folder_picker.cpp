// The folder picker over SHBrowseForFolderW: browser notifications, typed paths.
#include "app/folder_picker.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <utility>

#include "nv/fatal_error.h"
#include "nv/fixed_path.h"
#include "nv/known_folders.h"

namespace {

namespace rules = folder_picker_rules;

constexpr size_t kBuffer = MAX_PATH;

FolderPicker::ErrorDisplay& errorDisplaySlot() {
  static FolderPicker::ErrorDisplay display;
  return display;
}

std::wstring pathOfItem(LPCITEMIDLIST item) {
  wchar_t buffer[kBuffer] = {};
  if (!item || !::SHGetPathFromIDListW(item, buffer)) return {};
  return buffer;
}

BOOL CALLBACK findCaptionedRootOwner(HWND window, LPARAM data) {
  HWND root = ::GetAncestor(window, GA_ROOTOWNER);
  if (root && (::GetWindowLongW(root, GWL_STYLE) & WS_CAPTION) == WS_CAPTION) {
    *reinterpret_cast<HWND*>(data) = root;
    return FALSE;
  }
  return TRUE;
}

HWND rootOwnerWithCaption() {
  HWND found = nullptr;
  ::EnumThreadWindows(::GetCurrentThreadId(), &findCaptionedRootOwner,
                      reinterpret_cast<LPARAM>(&found));
  return found;
}

// The owner of the browser: the active window's root owner, or a captioned root window of this
// thread, then its last active pop-up.
HWND pickerOwner() {
  HWND owner = nullptr;
  if (HWND active = ::GetActiveWindow()) owner = ::GetAncestor(active, GA_ROOTOWNER);
  if (!owner) owner = rootOwnerWithCaption();
  if (owner) owner = ::GetLastActivePopup(owner);
  return owner;
}

BOOL CALLBACK findEditWindow(HWND window, LPARAM data) {
  wchar_t name[16] = {};
  ::GetClassNameW(window, name, 16);
  if (::lstrcmpiW(name, L"Edit") == 0) {
    *reinterpret_cast<HWND*>(data) = window;
    return FALSE;
  }
  return TRUE;
}

HWND findEditChild(HWND dialog) {
  HWND found = nullptr;
  ::EnumChildWindows(dialog, &findEditWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

}  // namespace

FolderPicker::FolderPicker(std::wstring title) : title_(std::move(title)) {}

FolderPicker::~FolderPicker() = default;

void FolderPicker::setRoot(nv::unique_pidl root) {
  root_ = std::move(root);
  baseFolder_.reset();
}

const std::wstring& FolderPicker::baseFolder() {
  if (!baseFolder_) {
    std::wstring rootPath = pathOfItem(root_.get());
    baseFolder_ = rootPath.empty() ? std::wstring()
                                   : nv::fixed_path::remove_file_spec(
                                         nv::fixed_path::remove_backslash(rootPath));
  }
  return *baseFolder_;
}

std::wstring FolderPicker::chosenFolder() const {
  return rules::chosenFolder(selection_, subFolder_);
}

std::wstring FolderPicker::relativePath() {
  const std::wstring& base = baseFolder();
  if (base.empty()) return selection_;
  return rules::relativeTo(base, selection_).value_or(selection_);
}

FolderPicker::ErrorDisplay FolderPicker::setErrorDisplay(ErrorDisplay display) {
  return std::exchange(errorDisplaySlot(), std::move(display));
}

void FolderPicker::showError(HWND owner, const std::error_code& error) {
  if (const ErrorDisplay& display = errorDisplaySlot()) {
    display(owner, error);
    return;
  }
  UINT type = MB_OK | MB_ICONEXCLAMATION;
  if (owner && (::GetWindowLongW(owner, GWL_EXSTYLE) & WS_EX_LAYOUTRTL)) type |= MB_RTLREADING;
  const std::wstring text = nv::error_text(static_cast<DWORD>(error.value()));
  ::MessageBoxW(owner, text.c_str(), nullptr, type);
}

void FolderPicker::prepareSelection(std::wstring_view startFolder,
                                    std::wstring_view suggestedSubFolder) {
  selection_ = std::wstring(startFolder);
  if (!selection_.empty() && ::PathIsRelativeW(selection_.c_str())) selection_.clear();
  if (selection_.empty()) selection_ = pathOfItem(root_.get());
  if (selection_.empty()) {
    try {
      selection_ = nv::documents_folder();
    } catch (const std::exception&) {
      selection_.clear();
    }
  }
  if (!selection_.empty() && selection_.back() == L':') selection_ += L'\\';
  subFolder_ = rules::sanitizeSubFolder(suggestedSubFolder);
  appendToSelection();
}

void FolderPicker::appendToSelection() {
  if (subFolder_.empty()) return;
  selection_ = rules::appendSubFolder(selection_, subFolder_);
  const std::wstring& base = baseFolder();
  if (!base.empty()) {
    if (auto relative = rules::relativeTo(base, selection_)) selection_ = std::move(*relative);
  }
}

bool FolderPicker::run(std::wstring_view startFolder, std::wstring_view suggestedSubFolder) {
  HWND owner = pickerOwner();
  if (!(flags_ & ComInitialised)) {
    com_.emplace();
    if (!com_->succeeded()) {
      const HRESULT failure = com_->result();
      com_.reset();
      showError(owner, std::error_code(static_cast<int>(failure), std::system_category()));
      return false;
    }
    flags_ |= ComInitialised;
  }
  flags_ &= ~(DialogInitialised | TypedPathAccepted);
  editBox_ = nullptr;
  prepareSelection(startFolder, suggestedSubFolder);

  BROWSEINFOW info{};
  wchar_t displayName[kBuffer] = {};
  info.hwndOwner = owner;
  info.pidlRoot = root_.get();
  info.pszDisplayName = displayName;
  info.lpszTitle = title_.empty() ? nullptr : title_.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS | BIF_NEWDIALOGSTYLE;
  if (!subFolder_.empty()) info.ulFlags |= BIF_EDITBOX | BIF_VALIDATE;
  info.lpfn = &FolderPicker::browseCallback;
  info.lParam = reinterpret_cast<LPARAM>(this);

  nv::unique_pidl chosen(::SHBrowseForFolderW(&info));
  editBox_ = nullptr;
  // An accepted typed path is the result even when the browser hands back no item for it.
  if (flags_ & TypedPathAccepted) return true;
  if (!chosen) return false;
  std::wstring path = pathOfItem(chosen.get());
  if (path.empty()) return false;
  selection_ = std::move(path);
  return true;
}

int CALLBACK FolderPicker::browseCallback(HWND window, UINT message, LPARAM param, LPARAM data) {
  auto* picker = reinterpret_cast<FolderPicker*>(data);
  if (!picker) return 0;
  try {
    return picker->onBrowseMessage(window, message, param);
  } catch (...) {
    return 0;  // nothing may escape into the shell
  }
}

int FolderPicker::onBrowseMessage(HWND window, UINT message, LPARAM param) {
  switch (message) {
    case BFFM_INITIALIZED:
      onInitialized(window);
      return 0;
    case BFFM_SELCHANGED:
      onSelectionChanged(window, reinterpret_cast<LPCITEMIDLIST>(param));
      return 0;
    case BFFM_VALIDATEFAILEDW:
      // Nonzero keeps the browser open.
      return onValidateFailed(window, reinterpret_cast<const wchar_t*>(param)) ? 0 : 1;
    default:
      return 0;
  }
}

void FolderPicker::onInitialized(HWND window) {
  flags_ |= DialogInitialised;
  const std::wstring& base = baseFolder();
  std::wstring folder = base.empty() ? selection_ : nv::fixed_path::combine(base, selection_);
  bool found = false;
  while (!folder.empty()) {
    if (::PathIsDirectoryW(folder.c_str()) != FALSE) {
      found = true;
      break;
    }
    std::wstring parent = nv::fixed_path::remove_file_spec(folder);
    if (parent == folder) break;
    folder = std::move(parent);
  }
  // Remember the proposal: selecting the existing folder reports a selection change that
  // rebuilds the selection from that folder.
  if (found) {
    ::SendMessageW(window, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
    ::SendMessageW(window, BFFM_SETEXPANDED, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
  }
  if (!subFolder_.empty()) editBox_ = findEditChild(window);
  if (found && editBox_) showSelectionInEditBox();
}

void FolderPicker::onSelectionChanged(HWND window, LPCITEMIDLIST item) {
  if (!(flags_ & DialogInitialised)) return;
  std::wstring path = pathOfItem(item);
  if (!path.empty()) {
    selection_ = std::move(path);
    appendToSelection();
  }
  if (editBox_) showSelectionInEditBox();
  if (subFolder_.empty()) ::SendMessageW(window, BFFM_ENABLEOK, 0, path.empty() ? 0 : 1);
}

bool FolderPicker::onValidateFailed(HWND window, const wchar_t* typed) {
  std::error_code error;
  std::wstring path =
      rules::qualifyTypedPath(typed ? std::wstring_view(typed) : std::wstring_view(),
                              baseFolder(), error);
  if (error) {
    showError(window, error);
    return false;
  }
  selection_ = std::move(path);
  flags_ |= TypedPathAccepted;
  return true;
}

void FolderPicker::showSelectionInEditBox() {
  ::SetWindowTextW(editBox_, selection_.c_str());
  ::SendMessageW(editBox_, EM_SETSEL, 0, -1);
}

std::wstring browseForFolder(std::wstring& startFolder, std::wstring_view suggestedSubFolder,
                             std::wstring_view title) {
  FolderPicker picker{std::wstring(title)};
  if (!picker.run(startFolder, suggestedSubFolder)) return {};
  startFolder = picker.chosenFolder();
  return picker.selection();
}

std::wstring browseForMenuFolder(std::wstring& startFolder, std::wstring_view suggestedSubFolder,
                                 std::wstring_view title, std::wstring* relativePath) {
  FolderPicker picker{std::wstring(title)};
  LPITEMIDLIST programs = nullptr;
  if (SUCCEEDED(::SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_PROGRAMS, &programs))) {
    picker.setRoot(nv::unique_pidl(programs));
  }
  if (!picker.run(startFolder, suggestedSubFolder)) return {};
  startFolder = picker.chosenFolder();
  if (relativePath) *relativePath = picker.relativePath();
  return picker.selection();
}
