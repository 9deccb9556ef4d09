// Owners for the image resources of the Start page's language list: the image list of flags,
// destroyed with the page, and each flag icon, destroyed once the list has copied it.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "nv/unique_handle.h"
#include "ui/gdi.h"

namespace app_images {

struct image_list_traits {
  using type = HIMAGELIST;
  static HIMAGELIST normalize(HIMAGELIST list) noexcept { return list; }
  static void close(HIMAGELIST list) noexcept { ::ImageList_Destroy(list); }
};

using unique_image_list = nv::unique_resource<image_list_traits>;
using unique_icon = ui::unique_icon;

}  // namespace app_images
