// The folder picker: the shell's folder browser proposing a sub-folder of the installer's choice.
// Whatever folder the user clicks is shown with the suggested sub-folder appended (unless it
// already ends with it), and the user may type a folder that does not exist yet. Browsing can be
// confined below a root; paths are then shown relative to the root's parent (the base folder).
//
//   std::wstring start = L"C:\\Apps";
//   std::wstring path = browseForFolder(start, L"Tessaline 7", title);
//   // the user picks C:\Data: path == L"C:\\Data\\Tessaline 7", start == L"C:\\Data"
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "app/folder_path_rules.h"
#include "app/shell_owners.h"

// One browse: created with the title, optionally given a root, run once, asked for its results.
class FolderPicker {
 public:
  explicit FolderPicker(std::wstring title);
  ~FolderPicker();
  FolderPicker(const FolderPicker&) = delete;
  FolderPicker& operator=(const FolderPicker&) = delete;

  // Confines browsing below `root`; the picker frees it.
  void setRoot(nv::unique_pidl root);

  // Shows the browser starting at `startFolder`, proposing `suggestedSubFolder`. False on cancel
  // or failure (a failed COM initialisation has been reported to the user).
  bool run(std::wstring_view startFolder, std::wstring_view suggestedSubFolder);

  // The current path (absolute once run has returned true).
  const std::wstring& selection() const { return selection_; }
  // The sub-folder actually proposed (empty when the suggestion was rejected).
  const std::wstring& subFolder() const { return subFolder_; }
  // The selection without the suggested sub-folder.
  std::wstring chosenFolder() const;
  // The selection relative to the base folder; the selection itself without a base folder or
  // when no relative path can be made.
  std::wstring relativePath();
  // The root's file-system path without its last component; empty without a root.
  const std::wstring& baseFolder();

  // Shows the system's text for an error code, owned by `owner`. Tests replace it; an empty
  // function restores the message box. Returns the previous one.
  using ErrorDisplay = std::function<void(HWND owner, const std::error_code& error)>;
  static ErrorDisplay setErrorDisplay(ErrorDisplay display);

 private:
  static int CALLBACK browseCallback(HWND window, UINT message, LPARAM param, LPARAM data);
  int onBrowseMessage(HWND window, UINT message, LPARAM param);
  void onInitialized(HWND window);
  void onSelectionChanged(HWND window, LPCITEMIDLIST item);
  bool onValidateFailed(HWND window, const wchar_t* typed);
  void prepareSelection(std::wstring_view startFolder, std::wstring_view suggestedSubFolder);
  void appendToSelection();
  void showSelectionInEditBox();
  static void showError(HWND owner, const std::error_code& error);

  enum : unsigned { ComInitialised = 1u, DialogInitialised = 2u, TypedPathAccepted = 4u };

  std::wstring selection_;
  std::wstring subFolder_;
  std::wstring title_;
  nv::unique_pidl root_;
  std::optional<std::wstring> baseFolder_;
  unsigned flags_ = 0;
  HWND editBox_ = nullptr;
  std::optional<nv::com_initialization> com_;
};

// Runs the picker without a root. On success returns the selection and sets `startFolder` to the
// chosen folder without the sub-folder; on cancel or failure returns an empty path and leaves
// `startFolder` unchanged.
std::wstring browseForFolder(std::wstring& startFolder, std::wstring_view suggestedSubFolder,
                             std::wstring_view title);

// Runs the picker below the common Programs menu (base folder: the common Start menu). Like
// browseForFolder; on success also stores the selection relative to the base folder in
// `relativePath` when given.
std::wstring browseForMenuFolder(std::wstring& startFolder, std::wstring_view suggestedSubFolder,
                                 std::wstring_view title, std::wstring* relativePath = nullptr);
