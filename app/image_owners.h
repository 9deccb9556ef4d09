// Owners for the image resources of the Start page's language list: the image list of flags,
// destroyed with the page, and each flag icon, destroyed once the list has copied it.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "nv/unique_handle.h"

namespace app_images {

struct image_list_traits {
  using type = HIMAGELIST;
  static HIMAGELIST normalize(HIMAGELIST list) noexcept { return list; }
  static void close(HIMAGELIST list) noexcept { ::ImageList_Destroy(list); }
};

struct icon_traits {
  using type = HICON;
  static HICON normalize(HICON icon) noexcept { return icon; }
  static void close(HICON icon) noexcept { ::DestroyIcon(icon); }
};

using unique_image_list = nv::unique_resource<image_list_traits>;
using unique_icon = nv::unique_resource<icon_traits>;

}  // namespace app_images
