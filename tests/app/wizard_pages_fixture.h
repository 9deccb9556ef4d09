// The wizard pages' test fixture: the Start, Mode, Folder and Shortcut pages on the installer's
// own templates as children of a test window, message boxes recorded instead of shown, and the
// small control helpers the page tests share.
#pragma once

#include "app/install_app.h"
#include "app/install_dlg.h"
#include "localization/languages.h"
#include "app/mode_page.h"
#include "app/path_page.h"
#include "app/shortcut_page.h"
#include "app/start_page.h"

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "machine/folder_rules.h"
#include "nv/product_test_support.h"

#include "dpi_test_support.h"
#include "nv/fatal_error.h"
#include "resources/resource_ids.h"
#include "ui/gdi.h"
#include "wine.h"

namespace wizard_pages_test {

struct host_window {
  HWND hwnd = ::CreateWindowExW(0, L"Static", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 700, 500, nullptr,
                                nullptr, nullptr, nullptr);
  ~host_window() {
    if (hwnd) ::DestroyWindow(hwnd);
  }
};

// Records every message box instead of showing it; restores the display on destruction.
struct recorded_boxes {
  std::vector<nv::message_box_request> boxes;
  nv::message_box_display previous =
      nv::set_message_box_display([this](const nv::message_box_request& request) {
        boxes.push_back(request);
        return IDOK;
      });
  ~recorded_boxes() { nv::set_message_box_display(std::move(previous)); }
};

inline void click(CWizardPage& page, int id) {
  ::SendMessageW(page.hwnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(page.item(id)));
}

inline bool readOnly(HWND edit) { return (::GetWindowLongW(edit, GWL_STYLE) & ES_READONLY) != 0; }
inline bool enabled(CWizardPage& page, int id) { return ::IsWindowEnabled(page.item(id)) != FALSE; }
inline bool samePath(const std::wstring& a, const std::wstring& b) {
  return ::lstrcmpiW(a.c_str(), b.c_str()) == 0;
}

inline LONG width(HWND window) {
  RECT box{};
  ::GetWindowRect(window, &box);
  return box.right - box.left;
}

class WizardPagesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_USEREX_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
  }
  void SetUp() override {
    ASSERT_NE(host.hwnd, nullptr);
    setCurrentLanguage(Languages::English);
    currentLanguage().selectedLanguage = Languages::English;
    app.installFolder = L"C:\\Program Files\\Nuvelle\\Tessaline 7";
  }
  void TearDown() override { setCurrentLanguage(Languages::English); }

  CInstallApp app;
  host_window host;
};

}  // namespace wizard_pages_test
