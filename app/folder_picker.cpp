// The folder picker over SHBrowseForFolderW: path rules, browser notifications, typed paths.
#include "app/folder_picker.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <utility>

#include "nv/fatal_error.h"
#include "nv/fixed_path.h"
#include "nv/known_folders.h"

namespace folder_picker_rules {
namespace {

constexpr size_t kBuffer = MAX_PATH;

bool hasSeparator(std::wstring_view path) { return path.find(L'\\') != std::wstring_view::npos; }

// True when `path` has no component left to remove (a single name or a root).
bool downToLastComponent(const std::wstring& path) {
  return !hasSeparator(path) || nv::fixed_path::remove_file_spec(path) == path;
}

// `path` without its last component; empty when it had only one.
std::wstring withoutLastComponent(const std::wstring& path) {
  return hasSeparator(path) ? nv::fixed_path::remove_file_spec(path) : std::wstring();
}

bool validPathCharacters(std::wstring_view text) {
  for (wchar_t c : text) {
    const UINT type = ::PathGetCharTypeW(c);
    if (type == GCT_INVALID || (type & GCT_WILD)) return false;
  }
  return true;
}

std::error_code systemError(DWORD code) {
  return {static_cast<int>(code), std::system_category()};
}

std::error_code lastError() {
  const DWORD code = ::GetLastError();
  return systemError(code != 0 ? code : ERROR_BAD_PATHNAME);
}

std::wstring currentDirectory() {
  wchar_t buffer[kBuffer] = {};
  const DWORD length = ::GetCurrentDirectoryW(kBuffer, buffer);
  if (length == 0 || length >= kBuffer) return {};
  return buffer;
}

// Makes a folder the current directory for its lifetime and restores the previous one after.
class CurrentDirectoryChange {
 public:
  CurrentDirectoryChange(const std::wstring& folder, std::error_code& error)
      : previous_(currentDirectory()) {
    if (previous_.empty()) {
      error = lastError();
    } else if (!::SetCurrentDirectoryW(folder.c_str())) {
      error = lastError();
      previous_.clear();
    }
  }
  ~CurrentDirectoryChange() {
    if (!previous_.empty()) ::SetCurrentDirectoryW(previous_.c_str());
  }
  CurrentDirectoryChange(const CurrentDirectoryChange&) = delete;
  CurrentDirectoryChange& operator=(const CurrentDirectoryChange&) = delete;

 private:
  std::wstring previous_;
};

}  // namespace

size_t trailingMatch(std::wstring_view path, std::wstring_view suffix) {
  std::wstring p = nv::fixed_path::remove_backslash(path);
  std::wstring s = nv::fixed_path::remove_backslash(suffix);
  size_t matched = 0;
  while (!s.empty()) {
    if (downToLastComponent(p)) return 0;
    const std::wstring pLast = nv::fixed_path::file_name(p);
    const std::wstring sLast = nv::fixed_path::file_name(s);
    if (::lstrcmpiW(pLast.c_str(), sLast.c_str()) != 0) return 0;
    ++matched;
    p = nv::fixed_path::remove_file_spec(p);
    s = withoutLastComponent(s);
  }
  return matched;
}

size_t componentCount(std::wstring_view path) {
  size_t count = 0;
  bool inName = false;
  for (wchar_t c : path) {
    if (c == L'\\') {
      inName = false;
    } else if (!inName) {
      inName = true;
      ++count;
    }
  }
  return count;
}

std::wstring sanitizeSubFolder(std::wstring_view subFolder) {
  if (!validPathCharacters(subFolder)) return {};
  std::wstring result(subFolder);
  while (!result.empty() && result.back() == L'.') result.pop_back();
  return result;
}

std::wstring appendSubFolder(std::wstring_view selection, std::wstring_view subFolder) {
  std::wstring sub = nv::fixed_path::remove_backslash(subFolder);
  if (sub.empty()) return std::wstring(selection);
  const size_t wanted = componentCount(sub);
  if (trailingMatch(selection, sub) == wanted) return std::wstring(selection);

  // Longest leading part of the sub-folder that the selection already ends with.
  std::wstring rest = sub;
  for (std::wstring lead = withoutLastComponent(sub); !lead.empty();
       lead = withoutLastComponent(lead)) {
    if (trailingMatch(selection, lead) == componentCount(lead)) {
      rest = sub.substr(lead.size());
      while (!rest.empty() && rest.front() == L'\\') rest.erase(0, 1);
      break;
    }
  }
  if (selection.size() + 1 + rest.size() > nv::fixed_path::max_length) {
    return std::wstring(selection);
  }
  std::wstring appended = nv::fixed_path::append(selection, rest);
  return appended.empty() ? std::wstring(selection) : appended;
}

std::wstring chosenFolder(std::wstring_view selection, std::wstring_view subFolder) {
  const size_t count = componentCount(subFolder);
  if (count == 0 || trailingMatch(selection, subFolder) != count) return std::wstring(selection);
  std::wstring result = nv::fixed_path::remove_backslash(selection);
  for (size_t i = 0; i < count; ++i) result = nv::fixed_path::remove_file_spec(result);
  return result;
}

std::optional<std::wstring> relativeTo(std::wstring_view base, std::wstring_view path) {
  if (base.size() >= kBuffer || path.size() >= kBuffer) return std::nullopt;
  const std::wstring from(base);
  const std::wstring to(path);
  wchar_t relative[kBuffer] = {};
  if (!::PathRelativePathToW(relative, from.c_str(), FILE_ATTRIBUTE_DIRECTORY, to.c_str(),
                             FILE_ATTRIBUTE_DIRECTORY)) {
    return std::nullopt;
  }
  std::wstring result = relative;
  // Canonicalising drops the leading ".\" of a path below the base. A path that climbs out of
  // the base ("..\x") is left as it is: canonicalising would drop its ".." parts and turn it into
  // a different folder.
  if (result.rfind(L"..", 0) != 0) {
    wchar_t canonical[kBuffer] = {};
    if (!::PathCanonicalizeW(canonical, relative)) return std::nullopt;
    result = canonical;
    if (result.rfind(L".\\", 0) == 0) result.erase(0, 2);
  }
  if (result == L".") result.clear();
  return result;
}

std::wstring qualifyTypedPath(std::wstring_view typed, std::wstring_view baseFolder,
                              std::error_code& error) {
  error.clear();
  if (typed.size() >= kBuffer) {
    error = systemError(0x800700CEu);
    return {};
  }
  // Surrounding blanks and one trailing backslash go; a bare drive gets its root.
  const size_t first = typed.find_first_not_of(L" \t");
  const size_t last = typed.find_last_not_of(L" \t");
  std::wstring text = first == std::wstring_view::npos
                          ? std::wstring()
                          : std::wstring(typed.substr(first, last - first + 1));
  if (!text.empty() && text.back() == L'\\') text.pop_back();
  if (text.size() == 2 && text[1] == L':') text += L'\\';
  if (text.empty()) {
    text = currentDirectory();
    if (text.empty()) {
      error = lastError();
      return {};
    }
  }

  wchar_t qualified[kBuffer] = {};
  BOOL ok = FALSE;
  const std::wstring base(baseFolder);
  if (base.empty()) {
    ok = ::PathSearchAndQualifyW(text.c_str(), qualified, kBuffer);
  } else {
    CurrentDirectoryChange change(base, error);
    if (error) return {};
    ok = ::PathSearchAndQualifyW(text.c_str(), qualified, kBuffer);
  }
  if (!ok) {
    error = systemError(ERROR_BAD_PATHNAME);
    return {};
  }
  std::wstring result = qualified;
  if (!base.empty()) {
    const std::wstring trimmedBase = nv::fixed_path::remove_backslash(base);
    const int common = ::PathCommonPrefixW(result.c_str(), trimmedBase.c_str(), nullptr);
    if (common < 0 || static_cast<size_t>(common) != trimmedBase.size()) {
      error = systemError(ERROR_BAD_PATHNAME);
      return {};
    }
  }
  if (!validPathCharacters(result)) {
    error = systemError(ERROR_BAD_PATHNAME);
    return {};
  }
  return result;
}

}  // namespace folder_picker_rules

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
