// The dialog templates as linked into a program: every control with its kind, style bits and size
// in dialog units, and the raw template headers.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "nv/unique_handle.h"
#include "resources/resource_ids.h"

namespace {

struct window_traits {
  using type = HWND;
  static HWND normalize(HWND h) noexcept { return h; }
  static void close(HWND h) noexcept { ::DestroyWindow(h); }
};
using unique_window = nv::unique_resource<window_traits>;

HINSTANCE module() { return ::GetModuleHandleW(nullptr); }

// One control as the templates must define it. Style bits are compared under `mask`; a height
// of -1 is not compared (a drop-down list's window has its closed height, not the template's).
struct ControlLayout {
  int id;
  const wchar_t* windowClass;
  DWORD mask;
  DWORD style;
  int x, y, cx, cy;
};

constexpr DWORD kStaticType = SS_TYPEMASK;
constexpr DWORD kButtonType = BS_TYPEMASK;

struct DialogLayout {
  int id;
  int cx, cy;
  DWORD style;    // bits that must be set
  DWORD absent;   // bits that must be clear
  DWORD exStyle;  // extended bits that must be set
  std::vector<ControlLayout> controls;
  size_t itemCount;
};

constexpr DWORD kPageStyle = WS_CHILD | WS_CLIPCHILDREN | DS_CONTROL;
constexpr DWORD kPageAbsent = WS_VISIBLE | WS_CAPTION | WS_BORDER | WS_POPUP;

const std::vector<DialogLayout>& dialogs() {
  static const std::vector<DialogLayout> table = {
      {IDD_INSTALL, 273, 139, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
       WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CHILD, WS_EX_APPWINDOW,
       {
           {IDOK, L"Button", kButtonType, BS_DEFPUSHBUTTON, 138, 118, 66, 14},
           {IDC_BACK, L"Button", kButtonType, BS_PUSHBUTTON, 69, 118, 66, 14},
           {IDCANCEL, L"Button", kButtonType, BS_PUSHBUTTON, 216, 118, 50, 14},
           {IDC_LEFT_PANEL, L"Static", kStaticType, SS_WHITERECT, -3, 0, 67, 112},
           {IDC_SEPARATOR, L"Static", kStaticType, SS_ETCHEDHORZ, 1, 112, 272, 1},
       },
       6},
      {IDD_ABOUT, 192, 141, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, WS_CHILD, 0,
       {
           {IDC_ABOUT_VERSION, L"Static", kStaticType, SS_CENTER, 7, 30, 178, 8},
           {IDC_ABOUT_LEGAL, L"Static", kStaticType, SS_CENTER, 7, 40, 178, 8},
           {IDOK, L"Button", kButtonType, BS_DEFPUSHBUTTON, 71, 122, 50, 14},
       },
       9},
      {IDD_START_PAGE, 251, 84, kPageStyle, kPageAbsent, 0,
       {
           {IDC_LANGUAGE_PROMPT, L"Static", kStaticType, SS_LEFT, 7, 9, 141, 8},
           {IDC_LANGUAGE_LIST, L"ComboBoxEx32", CBS_DROPDOWNLIST | WS_VSCROLL,
            CBS_DROPDOWNLIST | WS_VSCROLL, 149, 7, 95, -1},
           {IDC_LEGAL_NOTICE, L"Static", kStaticType | WS_DISABLED, SS_RIGHT | WS_DISABLED, 7, 27,
            237, 9},
           {IDC_INFORMATION, L"Static", kStaticType | SS_SUNKEN, SS_LEFT | SS_SUNKEN, 7, 38, 237,
            27},
           {IDC_STATUS, L"Static", kStaticType, SS_LEFT, 7, 69, 237, 8},
       },
       5},
      {IDD_MODE_PAGE, 279, 82, kPageStyle, kPageAbsent, 0,
       {
           {IDC_METHOD_GROUP, L"Button", kButtonType, BS_GROUPBOX, 7, 7, 265, 46},
           {IDC_QUICK_INSTALL, L"Button", kButtonType | WS_GROUP, BS_AUTORADIOBUTTON | WS_GROUP,
            14, 21, 249, 8},
           {IDC_ADVANCED_INSTALL, L"Button", kButtonType | WS_GROUP, BS_AUTORADIOBUTTON, 14, 36,
            249, 8},
           {IDC_STATUS, L"Static", kStaticType, SS_LEFT, 7, 67, 265, 8},
       },
       4},
      {IDD_FOLDER_PAGE, 278, 86, kPageStyle, kPageAbsent, 0,
       {
           {IDC_FOLDER_GROUP, L"Button", kButtonType, BS_GROUPBOX, 7, 7, 264, 52},
           {IDC_FOLDER_PROMPT, L"Static", kStaticType, SS_LEFT, 16, 23, 245, 8},
           {IDC_FOLDER_EDIT, L"Edit", ES_MULTILINE | ES_AUTOHSCROLL | ES_READONLY,
            ES_AUTOHSCROLL, 16, 39, 177, 12},
           {IDC_BROWSE, L"Button", kButtonType, BS_PUSHBUTTON, 198, 38, 63, 14},
           {IDC_STATUS, L"Static", kStaticType, SS_LEFT, 7, 71, 264, 8},
       },
       5},
      {IDD_SHORTCUT_PAGE, 278, 105, kPageStyle, kPageAbsent, 0,
       {
           {IDC_MENU_GROUP, L"Button", kButtonType, BS_GROUPBOX, 7, 7, 264, 52},
           {IDC_MENU_SHORTCUT, L"Button", kButtonType, BS_AUTOCHECKBOX, 16, 23, 245, 8},
           {IDC_MENU_FOLDER_EDIT, L"Edit", ES_MULTILINE | ES_AUTOHSCROLL | ES_READONLY,
            ES_AUTOHSCROLL | ES_READONLY, 16, 39, 177, 12},
           {IDC_BROWSE, L"Button", kButtonType, BS_PUSHBUTTON, 198, 38, 63, 14},
           {IDC_DESKTOP_SHORTCUT, L"Button", kButtonType, BS_AUTOCHECKBOX, 16, 70, 255, 8},
           {IDC_STATUS, L"Static", kStaticType, SS_LEFT, 7, 90, 264, 8},
       },
       6},
      {IDD_PROGRESS_PAGE, 219, 97, kPageStyle, kPageAbsent, 0,
       {
           {IDC_LOG, L"Edit",
            ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL | WS_BORDER,
            ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL | WS_BORDER,
            7, 7, 205, 54},
           {IDC_PROGRESS_BAR, L"msctls_progress32", PBS_SMOOTH, PBS_SMOOTH, 7, 67, 205, 10},
           {IDC_STATUS, L"Static", kStaticType, SS_LEFT, 7, 82, 205, 8},
       },
       3},
      {IDD_END_PAGE, 242, 56, kPageStyle, kPageAbsent, 0,
       {
           {IDC_RESULT, L"Static", kStaticType, SS_LEFT, 7, 7, 228, 27},
           {IDC_STATUS, L"Static", kStaticType, SS_LEFT, 7, 41, 228, 8},
       },
       2},
  };
  return table;
}

INT_PTR CALLBACK passiveDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// One control of a DIALOGEX template as stored.
struct TemplateItem {
  DWORD style;
  short x, y, cx, cy;
  int id;
};

// The raw header of a DIALOGEX template and its controls.
struct TemplateHeader {
  DWORD exStyle = 0;
  DWORD style = 0;
  WORD items = 0;
  short cx = 0, cy = 0;
  WORD pointSize = 0;
  std::wstring typeface;
  std::vector<TemplateItem> controls;
};

const WORD* skipNameOrOrdinal(const WORD* p) {
  if (*p == 0) return p + 1;
  if (*p == 0xFFFF) return p + 2;
  while (*p) ++p;
  return p + 1;
}

bool readTemplate(int id, TemplateHeader& header) {
  HRSRC found = ::FindResourceW(module(), MAKEINTRESOURCEW(id), RT_DIALOG);
  if (!found) return false;
  const auto* bytes = static_cast<const BYTE*>(::LockResource(::LoadResource(module(), found)));
  if (!bytes) return false;
  WORD version, signature;
  std::memcpy(&version, bytes, 2);
  std::memcpy(&signature, bytes + 2, 2);
  if (version != 1 || signature != 0xFFFF) return false;
  std::memcpy(&header.exStyle, bytes + 8, 4);
  std::memcpy(&header.style, bytes + 12, 4);
  std::memcpy(&header.items, bytes + 16, 2);
  std::memcpy(&header.cx, bytes + 22, 2);
  std::memcpy(&header.cy, bytes + 24, 2);
  const WORD* p = reinterpret_cast<const WORD*>(bytes + 26);
  p = skipNameOrOrdinal(p);  // menu
  p = skipNameOrOrdinal(p);  // class
  while (*p) ++p;            // title
  ++p;
  if (header.style & DS_SETFONT) {
    header.pointSize = p[0];
    p += 3;  // point size, weight, italic + character set
    header.typeface = reinterpret_cast<const wchar_t*>(p);
    p += header.typeface.size() + 1;
  }
  for (WORD i = 0; i < header.items; ++i) {
    const auto* item = reinterpret_cast<const BYTE*>(
        (reinterpret_cast<uintptr_t>(p) + 3) & ~uintptr_t(3));  // items are DWORD-aligned
    TemplateItem control{};
    std::memcpy(&control.style, item + 8, 4);
    std::memcpy(&control.x, item + 12, 2);
    std::memcpy(&control.y, item + 14, 2);
    std::memcpy(&control.cx, item + 16, 2);
    std::memcpy(&control.cy, item + 18, 2);
    DWORD id;
    std::memcpy(&id, item + 20, 4);
    control.id = static_cast<int>(id);
    header.controls.push_back(control);
    p = reinterpret_cast<const WORD*>(item + 24);
    p = skipNameOrOrdinal(p);  // class
    p = skipNameOrOrdinal(p);  // title
    const WORD extra = *p++;
    p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + extra);
  }
  return true;
}

class DialogResources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX init{sizeof(init), ICC_USEREX_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&init);
  }
  void SetUp() override {
    host_.reset(::CreateWindowExW(0, L"Static", L"host", WS_POPUP, 0, 0, 800, 600, nullptr,
                                  nullptr, module(), nullptr));
    ASSERT_TRUE(host_);
  }

  unique_window create(int id) {
    return unique_window(::CreateDialogParamW(module(), MAKEINTRESOURCEW(id), host_.get(),
                                              &passiveDialogProc, 0));
  }

  RECT mapped(HWND dialog, int x, int y, int cx, int cy) {
    RECT r{x, y, x + cx, y + cy};
    ::MapDialogRect(dialog, &r);
    return r;
  }

  unique_window host_;
};

TEST_F(DialogResources, TemplateHeadersHaveSizeStyleAndShellFont) {
  for (const DialogLayout& layout : dialogs()) {
    SCOPED_TRACE(layout.id);
    TemplateHeader header;
    ASSERT_TRUE(readTemplate(layout.id, header));
    EXPECT_EQ(header.cx, layout.cx);
    EXPECT_EQ(header.cy, layout.cy);
    EXPECT_EQ(header.style & layout.style, layout.style);
    EXPECT_EQ(header.style & layout.absent, 0u);
    EXPECT_EQ(header.exStyle & layout.exStyle, layout.exStyle);
    EXPECT_EQ(header.items, layout.itemCount);
    EXPECT_EQ(header.pointSize, 8);
    EXPECT_EQ(header.typeface, L"MS Shell Dlg");

    // Each control as declared: style bits and rectangle in dialog units.
    ASSERT_EQ(header.controls.size(), layout.itemCount);
    for (const ControlLayout& control : layout.controls) {
      SCOPED_TRACE(control.id);
      const TemplateItem* item = nullptr;
      for (const TemplateItem& candidate : header.controls) {
        if (candidate.id == control.id) item = &candidate;
      }
      ASSERT_NE(item, nullptr);
      EXPECT_EQ(item->style & control.mask, control.style) << std::hex << item->style;
      EXPECT_EQ(item->x, control.x);
      EXPECT_EQ(item->y, control.y);
      EXPECT_EQ(item->cx, control.cx);
      if (control.cy >= 0) {
        EXPECT_EQ(item->cy, control.cy);
      }
    }
  }
}

TEST_F(DialogResources, EveryControlHasItsKindStyleAndRectangle) {
  for (const DialogLayout& layout : dialogs()) {
    SCOPED_TRACE(layout.id);
    unique_window dialog = create(layout.id);
    ASSERT_TRUE(dialog) << ::GetLastError();
    EXPECT_FALSE(::IsWindowVisible(dialog.get()));

    RECT client{};
    ::GetClientRect(dialog.get(), &client);
    const RECT size = mapped(dialog.get(), 0, 0, layout.cx, layout.cy);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    for (const ControlLayout& control : layout.controls) {
      SCOPED_TRACE(control.id);
      HWND item = ::GetDlgItem(dialog.get(), control.id);
      ASSERT_NE(item, nullptr);
      wchar_t name[64] = {};
      ::GetClassNameW(item, name, 64);
      EXPECT_EQ(::lstrcmpiW(name, control.windowClass), 0) << name;
      // Controls may move border and scroll bits elsewhere when created; the kind must stay.
      const DWORD liveMask = control.mask & (SS_TYPEMASK | BS_TYPEMASK | ES_MULTILINE |
                                             ES_READONLY | ES_AUTOHSCROLL | WS_DISABLED);
      const DWORD style = static_cast<DWORD>(::GetWindowLongW(item, GWL_STYLE));
      EXPECT_EQ(style & liveMask, control.style & liveMask) << std::hex << style;

      // The dialog manager maps position and size separately. An etched line gets a static edge
      // when created, which grows its window by the edge; its inside keeps the declared size.
      RECT actual{};
      ::GetWindowRect(item, &actual);
      ::MapWindowPoints(nullptr, dialog.get(), reinterpret_cast<POINT*>(&actual), 2);
      const RECT origin = mapped(dialog.get(), control.x, control.y, 0, 0);
      const RECT extent = mapped(dialog.get(), 0, 0, control.cx, control.cy < 0 ? 0 : control.cy);
      SIZE size{actual.right - actual.left, actual.bottom - actual.top};
      const bool etched = (control.style & SS_TYPEMASK) == SS_ETCHEDHORZ &&
                          std::wstring_view(control.windowClass) == L"Static";
      if (etched) {
        RECT inside{};
        ::GetClientRect(item, &inside);
        size = {inside.right, 0};  // a line: its thickness is the edge's, not compared
      } else {
        EXPECT_EQ(actual.left, origin.left);
        EXPECT_EQ(actual.top, origin.top);
      }
      EXPECT_EQ(size.cx, extent.right);
      if (control.cy >= 0 && !etched) {
        EXPECT_EQ(size.cy, extent.bottom);
      }
    }
  }
}

BOOL CALLBACK collectChild(HWND window, LPARAM data) {
  reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
  return TRUE;
}

std::vector<HWND> staticsOfType(HWND dialog, DWORD type) {
  std::vector<HWND> all, matching;
  ::EnumChildWindows(dialog, &collectChild, reinterpret_cast<LPARAM>(&all));
  for (HWND child : all) {
    wchar_t name[16] = {};
    ::GetClassNameW(child, name, 16);
    if (::lstrcmpiW(name, L"Static") == 0 &&
        (static_cast<DWORD>(::GetWindowLongW(child, GWL_STYLE)) & SS_TYPEMASK) == type) {
      matching.push_back(child);
    }
  }
  return matching;
}

TEST_F(DialogResources, FrameShowsTheSidePictureAtItsRealSize) {
  unique_window frame = create(IDD_INSTALL);
  ASSERT_TRUE(frame);
  const std::vector<HWND> pictures = staticsOfType(frame.get(), SS_BITMAP);
  ASSERT_EQ(pictures.size(), 1u);
  EXPECT_NE(::SendMessageW(pictures[0], STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
  EXPECT_TRUE(::GetWindowLongW(pictures[0], GWL_STYLE) & SS_REALSIZEIMAGE);
  RECT r{};
  ::GetWindowRect(pictures[0], &r);
  ::MapWindowPoints(nullptr, frame.get(), reinterpret_cast<POINT*>(&r), 2);
  const RECT origin = mapped(frame.get(), 3, 3, 0, 0);
  EXPECT_EQ(r.left, origin.left);
  EXPECT_EQ(r.top, origin.top);
  EXPECT_EQ(r.right - r.left, 87);
  EXPECT_EQ(r.bottom - r.top, 171);
}

TEST_F(DialogResources, AboutBoxHasTheIconAndFiveCentredAddressLines) {
  unique_window about = create(IDD_ABOUT);
  ASSERT_TRUE(about);
  const std::vector<HWND> icons = staticsOfType(about.get(), SS_ICON);
  ASSERT_EQ(icons.size(), 1u);
  EXPECT_NE(::SendMessageW(icons[0], STM_GETICON, 0, 0), 0);

  int filled = 0;
  for (HWND line : staticsOfType(about.get(), SS_CENTER)) {
    if (::GetWindowTextLengthW(line) > 0) ++filled;
  }
  EXPECT_EQ(filled, 5);  // the version and legal lines are empty until run time
  wchar_t caption[64] = {};
  ::GetWindowTextW(about.get(), caption, 64);
  EXPECT_STREQ(caption, L"About '%1'");
}

}  // namespace
