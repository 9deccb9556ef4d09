// robot_probe.dll's picture check: inside the program whose window is looked at, reports each
// picture of the window with its size and place (see picture_probe.h).
#include "tools/robot/picture_probe.h"

#include <commctrl.h>

#include <cstring>
#include <vector>

#include "nv/unique_handle.h"
#include "tools/robot/fit_probe.h"
#include "ui/gdi.h"

namespace picture_probe {
namespace {

struct image_list_traits {
  using type = HIMAGELIST;
  static HIMAGELIST normalize(HIMAGELIST list) noexcept { return list; }
  static void close(HIMAGELIST list) noexcept { ::ImageList_Destroy(list); }
};
using unique_image_list = nv::unique_resource<image_list_traits>;

std::wstring class_of(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

SIZE bitmap_size(HBITMAP bitmap) {
  BITMAP info{};
  if (!bitmap || !::GetObjectW(bitmap, sizeof info, &info)) return {0, 0};
  return {info.bmWidth, std::abs(info.bmHeight)};
}

SIZE icon_size(HICON icon) {
  ICONINFO info{};
  if (!icon || !::GetIconInfo(icon, &info)) return {0, 0};
  ui::unique_gdi_object color(info.hbmColor);
  ui::unique_gdi_object mask(info.hbmMask);
  if (info.hbmColor) return bitmap_size(info.hbmColor);
  const SIZE both = bitmap_size(info.hbmMask);  // a monochrome icon: mask above image
  return {both.cx, both.cy / 2};
}

// The pixels of image `index` of `list`, drawn on white, as 24-bit rows.
std::vector<char> rendered(HIMAGELIST list, int index, SIZE size) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = size.cx;
  info.bmiHeader.biHeight = size.cy;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  ui::unique_memory_dc dc(::CreateCompatibleDC(nullptr));
  ui::unique_gdi_object bitmap(
      ::CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!dc || !bitmap || !bits) return {};
  const std::size_t bytes = static_cast<std::size_t>((size.cx * 3 + 3) & ~3) * size.cy;
  {
    ui::selected_object selected(dc.get(), bitmap.get());
    std::memset(bits, 0xFF, bytes);
    ::ImageList_Draw(list, index, dc.get(), 0, 0, ILD_NORMAL);
    ::GdiFlush();
  }
  const auto* first = static_cast<const char*>(bits);
  return std::vector<char>(first, first + bytes);
}

// The creation flags that make a list like `list`: its colour depth and whether it has a mask.
UINT list_flags(HIMAGELIST list) {
  IMAGEINFO info{};
  if (!::ImageList_GetImageInfo(list, 0, &info)) return ILC_COLOR24;
  BITMAP image{};
  ::GetObjectW(info.hbmImage, sizeof image, &image);
  UINT flags = ILC_COLOR24;
  switch (image.bmBitsPixel) {
    case 4: flags = ILC_COLOR4; break;
    case 8: flags = ILC_COLOR8; break;
    case 16: flags = ILC_COLOR16; break;
    case 32: flags = ILC_COLOR32; break;
    default: break;
  }
  return info.hbmMask ? flags | ILC_MASK : flags;
}

// One image of an icon resource as a list of the probed list's kind makes it.
struct candidate {
  int id;
  SIZE size;
  std::vector<char> pixels;
};

BOOL CALLBACK collect_icon_group(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) {
  if (IS_INTRESOURCE(name))
    reinterpret_cast<std::vector<int>*>(found)->push_back(static_cast<int>(
        reinterpret_cast<ULONG_PTR>(name)));
  return TRUE;
}

// One image of an icon group: its size and its icon resource.
struct icon_image {
  SIZE size;
  int icon_id;
};

std::vector<icon_image> icon_images(HMODULE module, int group) {
  std::vector<icon_image> images;
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(group), RT_GROUP_ICON);
  const auto* directory =
      found ? static_cast<const BYTE*>(::LockResource(::LoadResource(module, found))) : nullptr;
  if (!directory) return images;
  WORD count = 0;
  std::memcpy(&count, directory + 4, 2);
  for (WORD i = 0; i < count; ++i) {
    // Width, height, colours, reserved, planes, bits, bytes, then the icon resource's id.
    const BYTE* entry = directory + 6 + 14 * i;
    WORD id = 0;
    std::memcpy(&id, entry + 12, 2);
    images.push_back({{entry[0] ? entry[0] : 256, entry[1] ? entry[1] : 256}, id});
  }
  return images;
}

// The icon of exactly that image, made from its bytes: an icon that does not know its resource,
// so that an image list stretches it to its image size rather than reloading the group's image
// that fits that size best.
ui::unique_icon exact_icon(HMODULE module, const icon_image& image) {
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(image.icon_id), RT_ICON);
  auto* bytes = found ? static_cast<BYTE*>(::LockResource(::LoadResource(module, found))) : nullptr;
  if (!bytes) return ui::unique_icon();
  return ui::unique_icon(::CreateIconFromResourceEx(bytes, ::SizeofResource(module, found), TRUE,
                                                    0x00030000, image.size.cx, image.size.cy, 0));
}

// Every image of every icon of the program, each made into an image of a list like `list`.
std::vector<candidate> candidates(HIMAGELIST list, SIZE item) {
  HMODULE module = ::GetModuleHandleW(nullptr);
  std::vector<int> groups;
  ::EnumResourceNamesW(module, RT_GROUP_ICON, collect_icon_group,
                       reinterpret_cast<LONG_PTR>(&groups));
  const UINT flags = list_flags(list);
  std::vector<candidate> made;
  for (int group : groups) {
    for (const icon_image& image : icon_images(module, group)) {
      ui::unique_icon icon = exact_icon(module, image);
      unique_image_list scratch(::ImageList_Create(item.cx, item.cy, flags, 1, 1));
      if (!icon || !scratch || ::ImageList_AddIcon(scratch.get(), icon.get()) != 0) continue;
      made.push_back({group, image.size, rendered(scratch.get(), 0, item)});
    }
  }
  return made;
}

class writer {
 public:
  explicit writer(report& out) : out_(out) {}
  void add(const picture& p) {
    ++out_.seen;
    if (out_.count < kMaxPictures) out_.items[out_.count++] = p;
  }

 private:
  report& out_;
};

// A picture of `kind` in `control` (null: the window itself) of the window `top`, showing an
// image of `size`; its place is the control's rectangle relative to the window's top-left corner.
picture shown(picture_kind kind, HWND control, HWND top, SIZE size) {
  picture p{};
  p.kind = kind;
  p.size = size;
  if (!control) return p;
  p.id = ::GetDlgCtrlID(control);
  RECT outer{};
  ::GetWindowRect(top, &outer);
  ::GetWindowRect(control, &p.place);
  ::OffsetRect(&p.place, -outer.left, -outer.top);
  return p;
}

void report_list(HWND combo, HWND top, writer& out) {
  const auto list = reinterpret_cast<HIMAGELIST>(::SendMessageW(combo, CBEM_GETIMAGELIST, 0, 0));
  int cx = 0, cy = 0;
  if (!list || !::ImageList_GetIconSize(list, &cx, &cy)) return;
  const SIZE item{cx, cy};
  const std::vector<candidate> made = candidates(list, item);
  const int count = ::ImageList_GetImageCount(list);
  for (int index = 0; index < count; ++index) {
    picture p = shown(picture_kind::list_image, combo, top, item);
    p.index = index;
    const std::vector<char> pixels = rendered(list, index, item);
    for (const candidate& c : made) {
      if (pixels.empty() || c.pixels != pixels || (p.source_id && c.id != p.source_id)) continue;
      p.source_id = c.id;
      if (p.source_count < kMaxSources) p.sources[p.source_count++] = c.size;
    }
    out.add(p);
  }
}

void report_control(HWND control, HWND top, writer& out) {
  const std::wstring name = class_of(control);
  if (_wcsicmp(name.c_str(), WC_COMBOBOXEXW) == 0) return report_list(control, top, out);
  if (_wcsicmp(name.c_str(), L"Static") != 0) return;
  switch (static_cast<DWORD>(::GetWindowLongW(control, GWL_STYLE)) & SS_TYPEMASK) {
    case SS_BITMAP: {
      const auto bitmap = reinterpret_cast<HBITMAP>(
          ::SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0));
      out.add(shown(picture_kind::bitmap, control, top, bitmap_size(bitmap)));
      break;
    }
    case SS_ICON: {
      const auto icon = reinterpret_cast<HICON>(::SendMessageW(control, STM_GETICON, 0, 0));
      out.add(shown(picture_kind::icon, control, top, icon_size(icon)));
      break;
    }
    case SS_ETCHEDHORZ:
      out.add(shown(picture_kind::separator, control, top, {0, 0}));
      break;
    default:
      break;
  }
}

BOOL CALLBACK collect(HWND window, LPARAM context) {
  reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
  return TRUE;
}

}  // namespace

void report_window(HWND window, DWORD robot_process) {
  nv::unique_handle mapping(
      ::OpenFileMappingW(FILE_MAP_WRITE, FALSE, mapping_name(robot_process).c_str()));
  if (!mapping) return;
  fit_probe::unique_view view(
      ::MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, sizeof(report)));
  if (!view) return;
  auto* out = static_cast<report*>(view.get());
  out->count = 0;
  out->seen = 0;
  writer pictures(*out);

  const auto icon = reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_BIG, 0));
  if (icon) pictures.add(shown(picture_kind::window_icon, nullptr, window, icon_size(icon)));
  std::vector<HWND> controls;
  ::EnumChildWindows(window, collect, reinterpret_cast<LPARAM>(&controls));
  for (HWND control : controls)
    if (::IsWindowVisible(control)) report_control(control, window, pictures);
  ::InterlockedExchange(&out->state, kWritten);
}

}  // namespace picture_probe
