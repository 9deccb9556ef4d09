// The uninstaller's window at another display scale: moved to a monitor of another scale, it
// takes the suggested rectangle, shows the side picture and icon drawn for that scale and keeps
// the picture above its separator.
#include <windows.h>

#include <functional>
#include <utility>

#include <gtest/gtest.h>

#include "dpi_test_support.h"
#include "localization/languages.h"
#include "nv/product.h"
#include "resources/resource_ids.h"
#include "ui/scaled_picture.h"
#include "uninstaller/uninstall_dlg.h"

namespace {

using uninstaller::CUninstallDlg;

// The window with a script that runs once it is shown; the window ends after it.
class ScriptedWindow : public CUninstallDlg {
 public:
  explicit ScriptedWindow(std::function<void(ScriptedWindow&)> script)
      : CUninstallDlg(false, [](engine::InstallProgress&, bool) { return uninstaller::RunResult{}; }),
        script_(std::move(script)) {}

  RECT rectOf(int id) const { return ui::window_ref(item(id)).rect_in_parent(); }

 protected:
  BOOL OnInitDialog() override {
    const BOOL result = CUninstallDlg::OnInitDialog();
    ::PostMessageW(hwnd(), WM_APP, 0, 0);
    return result;
  }
  bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) override {
    if (message != WM_APP) return CUninstallDlg::OnMessage(message, wparam, lparam, result);
    script_(*this);
    EndDialog(99);
    return true;
  }

 private:
  std::function<void(ScriptedWindow&)> script_;
};

TEST(UninstallWindow, AnotherScaleSwapsThePicturesAndKeepsThemAboveTheSeparator) {
  setCurrentLanguage(Languages::English);
  nv::set_current_product(nv::tessaline_7);
  ScriptedWindow window([](ScriptedWindow& w) {
    const HWND picture = ui::bitmap_control(w.hwnd());
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(nv_testing::shown_bitmap(picture).cy, 171) << "the picture for this window's scale";
    for (const nv_testing::scale_sizes& scale : nv_testing::kScaleSizes) {
      SCOPED_TRACE(scale.dpi);
      const RECT suggested = nv_testing::move_to_scale(w.hwnd(), scale.dpi);
      const RECT separator = w.rectOf(IDC_SEPARATOR);
      nv_testing::expect_rescaled_window(w.hwnd(), suggested, picture, scale, separator.top);
      EXPECT_EQ(w.rectOf(IDC_LEFT_PANEL).bottom, separator.top);
      const RECT now = nv_testing::window_rect(w.hwnd());
      EXPECT_LT(w.rectOf(IDOK).top, now.bottom - now.top) << "the buttons stay inside";
    }
  });
  EXPECT_EQ(window.DoModal(), 99);
}

}  // namespace
