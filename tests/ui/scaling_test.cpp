// Display scales: which drawn picture size a DPI shows, pixel figures scaled by the DPI, and a
// dialog's answer to WM_DPICHANGED (the suggested rectangle, then OnDpiChanged once the system's
// own handling has run; a child dialog leaves the message to its parent).
#include <windows.h>

#include <vector>

#include <gtest/gtest.h>

#include "dpi_test_support.h"
#include "ui/dialog.h"
#include "ui/dpi.h"

namespace {

TEST(DisplayScale, PicturesOfTheLargestScaleNotAboveTheDpiAndPixelsScaledToTheNearest) {
  struct row {
    UINT dpi;
    int percent;       // the pictures shown
    int thirty;        // 30 pixels at 100 %
    int picture_87;    // 87 pixels of a picture at its scale
  };
  const row rows[] = {
      {72, 100, 23, 87},   {96, 100, 30, 87},   {119, 100, 37, 87},  {120, 125, 38, 108},
      {143, 125, 45, 108}, {144, 150, 45, 130}, {167, 150, 52, 130}, {168, 175, 53, 152},
      {191, 175, 60, 152}, {192, 200, 60, 174}, {288, 200, 90, 174},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.dpi);
    const int percent = ui::kPictureScales[ui::picture_scale_index(r.dpi)];
    EXPECT_EQ(percent, r.percent);
    EXPECT_EQ(ui::scale_pixels(30, r.dpi), r.thirty);
    EXPECT_EQ(ui::picture_pixels(87, percent), r.picture_87);
  }
}

constexpr UINT kTopLevel = 300, kChild = 301;

class scaled_dialog : public ui::dialog {
 public:
  explicit scaled_dialog(UINT id) : ui::dialog(id) {}
  std::vector<UINT> changes;    // OnDpiChanged, in order
  RECT rect_when_changed{};     // the window's rectangle at the first OnDpiChanged

 protected:
  void OnDpiChanged(UINT dpi) override {
    if (changes.empty()) rect_when_changed = nv_testing::window_rect(hwnd());
    changes.push_back(dpi);
  }
};

TEST(DisplayScale, ATopLevelDialogTakesTheSuggestedRectangleThenHearsOfTheNewDpi) {
  scaled_dialog top(kTopLevel);
  ASSERT_TRUE(top.Create(nullptr));
  scaled_dialog child(kChild);
  ASSERT_TRUE(child.Create(top.hwnd()));

  const RECT suggested = nv_testing::move_to_scale(top.hwnd(), 144);
  ASSERT_EQ(top.changes, std::vector<UINT>{144});
  EXPECT_TRUE(::EqualRect(&top.rect_when_changed, &suggested));

  // A child hears of the change from its parent, not from the message.
  nv_testing::move_to_scale(child.hwnd(), 120);
  EXPECT_TRUE(child.changes.empty());

  nv_testing::move_to_scale(top.hwnd(), 96);
  EXPECT_EQ(top.changes, (std::vector<UINT>{144, 96}));
}

}  // namespace
