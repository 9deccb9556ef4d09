// The icons and side pictures as linked into a program: every flag, the application icon and the
// side picture drawn for each display scale, at the size that scale gives them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/image_owners.h"
#include "nv/unique_handle.h"
#include "resources/resource_ids.h"

namespace {

struct gdi_traits {
  using type = HGDIOBJ;
  static HGDIOBJ normalize(HGDIOBJ h) noexcept { return h; }
  static void close(HGDIOBJ h) noexcept { ::DeleteObject(h); }
};
using app_images::unique_icon;
using unique_gdi = nv::unique_resource<gdi_traits>;

HINSTANCE module() { return ::GetModuleHandleW(nullptr); }

// The size of an icon's colour image.
SIZE iconSize(HICON icon) {
  ICONINFO info{};
  if (!::GetIconInfo(icon, &info)) return {0, 0};
  unique_gdi color(info.hbmColor);
  unique_gdi mask(info.hbmMask);
  BITMAP bitmap{};
  ::GetObjectW(color.get(), sizeof(bitmap), &bitmap);
  return {bitmap.bmWidth, bitmap.bmHeight};
}

// Every picture is drawn for each display scale; a size at a scale is the size at 100 % times
// the scale, rounded down.
struct ScaleSizes {
  int percent;
  SIZE flag;
  SIZE side;
  int largeIcon, smallIcon;
};
const ScaleSizes kScales[] = {
    {100, {16, 12}, {87, 171}, 32, 16},  {125, {20, 15}, {108, 213}, 40, 20},
    {150, {24, 18}, {130, 256}, 48, 24}, {175, {28, 21}, {152, 299}, 56, 28},
    {200, {32, 24}, {174, 342}, 64, 32},
};

// The sizes of the images in icon group `id`, in the group's order.
std::vector<SIZE> groupSizes(int id) {
  std::vector<SIZE> sizes;
  HRSRC group = ::FindResourceW(module(), MAKEINTRESOURCEW(id), RT_GROUP_ICON);
  const auto* dir = group ? static_cast<const BYTE*>(::LockResource(::LoadResource(module(), group)))
                          : nullptr;
  if (!dir) return sizes;
  WORD count;
  std::memcpy(&count, dir + 4, 2);
  for (WORD i = 0; i < count; ++i) sizes.push_back({dir[6 + 14 * i], dir[7 + 14 * i]});
  return sizes;
}

TEST(ImageResources, FlagIconsHoldEveryScaleFrom16By12AndThereIsNo159) {
  for (int id = IDI_FLAG_GERMAN; id <= IDI_FLAG_SERBIAN; ++id) {
    SCOPED_TRACE(id);
    const std::vector<SIZE> sizes = groupSizes(id);
    if (id == 159) {
      EXPECT_TRUE(sizes.empty());
      continue;
    }
    ASSERT_EQ(sizes.size(), std::size(kScales));
    // The 16 x 12 image first: what a program that names no size gets.
    for (std::size_t i = 0; i < std::size(kScales); ++i) {
      const SIZE wanted = kScales[i].flag;
      SCOPED_TRACE(kScales[i].percent);
      EXPECT_EQ(sizes[i].cx, wanted.cx);
      EXPECT_EQ(sizes[i].cy, wanted.cy);
      unique_icon icon(static_cast<HICON>(::LoadImageW(
          module(), MAKEINTRESOURCEW(id), IMAGE_ICON, wanted.cx, wanted.cy, LR_DEFAULTCOLOR)));
      ASSERT_TRUE(icon);
      const SIZE size = iconSize(icon.get());
      EXPECT_EQ(size.cx, wanted.cx);
      EXPECT_EQ(size.cy, wanted.cy);
    }
  }
}

TEST(ImageResources, ApplicationIconHasTheLargeAndSmallImageOfEveryScale) {
  const std::vector<SIZE> sizes = groupSizes(IDI_APP_ICON);
  // The large icon at 100 % comes first: what a program that names no size gets.
  ASSERT_FALSE(sizes.empty());
  EXPECT_EQ(sizes[0].cx, 32);
  for (const ScaleSizes& scale : kScales) {
    for (int edge : {scale.largeIcon, scale.smallIcon}) {
      SCOPED_TRACE(edge);
      EXPECT_EQ(std::count_if(sizes.begin(), sizes.end(),
                              [&](SIZE s) { return s.cx == edge && s.cy == edge; }),
                1);
      unique_icon icon(static_cast<HICON>(
          ::LoadImageW(module(), MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON, edge, edge, 0)));
      ASSERT_TRUE(icon);
      const SIZE size = iconSize(icon.get());
      EXPECT_EQ(size.cx, edge);
      EXPECT_EQ(size.cy, edge);
    }
  }
  EXPECT_EQ(sizes.size(), 9u) << "16, 20, 24, 28, 32, 40, 48, 56 and 64 pixels";
}

TEST(ImageResources, SidePictureIsDrawnForEveryScaleWith256Colours) {
  for (std::size_t i = 0; i < std::size(kScales); ++i) {
    const ScaleSizes& scale = kScales[i];
    SCOPED_TRACE(scale.percent);
    const int id = IDB_SIDE_PICTURE + static_cast<int>(i);
    HRSRC found = ::FindResourceW(module(), MAKEINTRESOURCEW(id), RT_BITMAP);
    ASSERT_NE(found, nullptr);
    const auto* info = static_cast<const BITMAPINFOHEADER*>(
        ::LockResource(::LoadResource(module(), found)));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->biWidth, scale.side.cx);
    EXPECT_EQ(info->biHeight, scale.side.cy);
    EXPECT_EQ(info->biBitCount, 8);
    EXPECT_TRUE(info->biClrUsed == 0 || info->biClrUsed == 256);

    unique_gdi bitmap(::LoadImageW(module(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0,
                                   LR_CREATEDIBSECTION));
    ASSERT_TRUE(bitmap);
    DIBSECTION section{};
    ASSERT_EQ(::GetObjectW(bitmap.get(), sizeof(section), &section), int(sizeof(section)));
    EXPECT_EQ(section.dsBm.bmWidth, scale.side.cx);
    EXPECT_EQ(section.dsBm.bmHeight, scale.side.cy);
    EXPECT_EQ(section.dsBm.bmBitsPixel, 8);
  }
  EXPECT_EQ(::FindResourceW(module(), MAKEINTRESOURCEW(IDB_SIDE_PICTURE + std::size(kScales)),
                            RT_BITMAP),
            nullptr);
}

}  // namespace
