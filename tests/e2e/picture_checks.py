"""The picture check of the end-to-end tests: robot.exe's "picture:" lines (see its picture-check
command) read back and judged against the display scale the program runs at. The side picture
must be the one drawn for the scale, its control exactly its size, the screenshot must show the
drawing's very pixels there (not stretched, not cut) and the picture must end above the separator;
the window's large icon and a static icon have the large-icon size of the DPI; every image of the
language list is made from its flag drawn for the scale, in an item of the scaled size. What is
drawn for a scale comes from resources/make_images.py itself."""
import functools
import os
import re
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "resources"))
import make_images  # noqa: E402

BASE_DPI = 96
LARGE_ICON = 32
FLAG = (make_images.W, make_images.H)
FLAG_ITEM = (18, 12)  # the language list's image size at 100 %

LINES = {
    "bitmap": re.compile(r"bitmap (-?\d+) at (-?\d+),(-?\d+) (\d+)x(\d+) shows (\d+)x(\d+)"),
    "icon": re.compile(r"icon (-?\d+) at (-?\d+),(-?\d+) (\d+)x(\d+) shows (\d+)x(\d+)"),
    "window-icon": re.compile(r"window-icon shows (\d+)x(\d+)"),
    "separator": re.compile(r"separator (-?\d+) at (-?\d+),(-?\d+) (\d+)x(\d+)"),
    "list-image": re.compile(r"list-image (-?\d+) (\d+) shows (\d+)x(\d+) from (\w+)((?: \d+x\d+)*)"),
}


def picture_scale(dpi):
    """The scale, in per cent, whose pictures a window at `dpi` shows: the largest not above."""
    return max(s for s in make_images.SCALES if s == 100 or s * BASE_DPI <= dpi * 100)


def scale_pixels(pixels, dpi):
    """`pixels` at 100 % at `dpi`, rounded to the nearest."""
    return (pixels * dpi + BASE_DPI // 2) // BASE_DPI


def at_scale(size, scale):
    return tuple(make_images.at_scale(n, scale) for n in size)


def parse(values):
    """{kind: [numbers of each line]} of the robot's picture lines; a list image's sizes as a set
    of (w, h) after its icon."""
    found = {kind: [] for kind in LINES}
    for verb, value in values:
        for kind, pattern in LINES.items():
            m = pattern.fullmatch(value) if verb == "picture" else None
            if not m:
                continue
            if kind == "list-image":
                sizes = {tuple(map(int, s.split("x"))) for s in m.group(6).split()}
                found[kind].append((int(m.group(1)), int(m.group(2)),
                                    (int(m.group(3)), int(m.group(4))), m.group(5), sizes))
            else:
                found[kind].append(tuple(int(g) for g in m.groups()))
    return found


@functools.lru_cache(maxsize=None)
def side_rows(scale):
    """The side picture drawn for `scale` as rows of RGB bytes."""
    pixels, palette = make_images.side_picture(scale)
    return [b"".join(bytes(palette[i]) for i in row) for row in pixels]


def screenshot_rows(bmp, left, top, width, height):
    """Rows of RGB bytes of a rectangle of a 24-bit BMP (as robot.exe saves it)."""
    data = open(bmp, "rb").read()
    offset = struct.unpack_from("<I", data, 10)[0]
    full_width, full_height = struct.unpack_from("<ii", data, 18)
    stride = (full_width * 3 + 3) & ~3
    rows = []
    for y in range(top, top + height):
        if not 0 <= y < abs(full_height) or left < 0 or left + width > full_width:
            return None
        row = abs(full_height) - 1 - y if full_height > 0 else y
        bgr = data[offset + row * stride + left * 3:offset + row * stride + (left + width) * 3]
        rgb = bytearray(bgr)
        rgb[0::3], rgb[2::3] = bgr[2::3], bgr[0::3]
        rows.append(bytes(rgb))
    return rows


def check_frame(check, what, dpi, values, bmp):
    """A wizard's window: its side picture, separator and icon at `dpi`, and its language list's
    flags when it shows one. `check(what, condition, detail)` records each verdict."""
    pictures = parse(values)
    scale = picture_scale(dpi)
    side = at_scale((make_images.SIDE_WIDTH, make_images.SIDE_HEIGHT), scale)
    bitmaps = pictures["bitmap"]
    if not check(f"{what}: one side picture", len(bitmaps) == 1, bitmaps):
        return
    _, x, y, width, height, shown_w, shown_h = bitmaps[0]
    check(f"{what}: the side picture is the one drawn for {scale} %", (shown_w, shown_h) == side,
          f"{shown_w}x{shown_h}, drawn {side[0]}x{side[1]}")
    check(f"{what}: the side picture fills its control exactly", (width, height) == (shown_w, shown_h),
          f"control {width}x{height}, picture {shown_w}x{shown_h}")
    shown = screenshot_rows(bmp, x, y, *side)
    check(f"{what}: the screen shows the side picture's pixels", shown == side_rows(scale),
          "differs from the drawing" if shown else "outside the screenshot")
    below = [s for s in pictures["separator"] if s[2] > y]
    check(f"{what}: the side picture ends above the separator",
          below and all(y + height <= s[2] for s in below), f"{pictures['separator']}")
    icons = pictures["window-icon"]
    large = scale_pixels(LARGE_ICON, dpi)
    check(f"{what}: the window's icon is {large} pixels", icons == [(large, large)], icons)
    check_flags(check, what, dpi, pictures["list-image"])


def check_flags(check, what, dpi, images):
    """The language list's images, when there is one: each made from a flag, the one drawn for
    the scale among the sizes that make it, in an item of the scaled size."""
    if not images:
        return
    scale = picture_scale(dpi)
    flag, item = at_scale(FLAG, scale), at_scale(FLAG_ITEM, scale)
    wrong = [i for i in images
             if i[2] != item or i[3] == "nothing" or int(i[3]) not in make_images.FLAGS or
             flag not in i[4]]
    check(f"{what}: the {len(images)} flags are drawn at {flag[0]}x{flag[1]} in items of "
          f"{item[0]}x{item[1]}", len(images) == 17 and not wrong, wrong or len(images))


def check_icon(check, what, dpi, values):
    """A window with a static icon (the About box): the icon has the large-icon size of `dpi`."""
    large = scale_pixels(LARGE_ICON, dpi)
    icons = [(i[5], i[6]) for i in parse(values)["icon"]]
    check(f"{what}: its icon is {large} pixels", icons == [(large, large)], icons)
