"""The screenshot gallery of the end-to-end run: every screen of the installer and of the
uninstaller in every installer language at 96 DPI (100 %), as SCREENSHOTS/<language>/NN-name.png,
and again at 144 DPI (150 %), as SCREENSHOTS/144dpi/<language>/NN-name.png; an index page with one
row per screen and one column per language and scale; and the robot's fit-check lines read back
into texts that are cut off."""
import html
import os
import re
import struct
import zlib

# The installer's UI languages: string-table name, position in the Start page's list, LanguageId.
# The programs take their language from the stored "NvLanguage" value (a locale given to Wine
# through LC_ALL would also change the encoding of file names when that locale is not installed).
LANGUAGES = [
    ("French", 0, 0),
    ("English", 1, 1),
    ("German", 2, 2),
    ("Spanish", 3, 3),
    ("Portuguese", 5, 4),
    ("Turkish", 9, 7),
    ("Romanian", 10, 9),
    ("Italian", 4, 11),
    ("Czech", 11, 12),
    ("Hungarian", 15, 19),
]

# The displays the gallery runs at, in dots per inch: 100 % and 150 %.
DPIS = (96, 144)
# The displays at which only the Start page is checked (125 % and 200 %).
CHECKED_DPIS = (120, 192)

# Every screen, in the gallery's order; its number is its place here.
SCREENS = [
    "start", "start-reinstall", "start-update", "start-newer", "mode", "folder",
    "folder-locked", "shortcut", "progress", "progress-done", "progress-failed", "end", "about",
    "box-exit", "box-language", "box-folder-too-long", "box-close-product",
    "box-not-administrator", "box-busy", "box-bad-option", "box-help", "box-recovery-held",
    "box-interrupted-run",
    "uninstall-confirm", "uninstall-removal", "uninstall-end", "uninstall-box-close-product",
    "uninstall-box-help", "uninstall-box-bad-option", "uninstall-box-not-administrator",
    "uninstall-box-missing-log", "uninstall-box-interrupted-run",
]


def file_name(screen):
    return f"{SCREENS.index(screen) + 1:02d}-{screen}"


def folder_of(root, language, dpi=96):
    """The folder of a language's screens at `dpi`: SCREENSHOTS/<language> at 96 DPI, else
    SCREENSHOTS/<dpi>dpi/<language>."""
    if dpi == 96:
        return os.path.join(root, language.lower())
    return os.path.join(root, f"{dpi}dpi", language.lower())


# The X screen the tests run on (README), which holds the wizards at up to 150 %.
SCREEN = (1024, 768)
ROOMY_DPI = 144


def screen_for(dpi):
    """An Xvfb screen as large at `dpi` as the tests' screen is at 96 DPI."""
    return f"{SCREEN[0] * dpi // 96}x{SCREEN[1] * dpi // 96}x24"


def scale_name(dpi):
    return f"{dpi} DPI ({dpi * 100 // 96} %)"


def bmp_to_png(bmp, png):
    """Writes the 24-bit BMP `bmp` (as robot.exe saves it) as an RGB PNG."""
    data = open(bmp, "rb").read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (width * 3 + 3) & ~3
    rows = bytearray()
    for y in range(abs(height)):
        row = abs(height) - 1 - y if height > 0 else y
        bgr = data[offset + row * stride:offset + row * stride + width * 3]
        rgb = bytearray(bgr)
        rgb[0::3], rgb[2::3] = bgr[2::3], bgr[0::3]
        rows += b"\x00" + rgb

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0)
    with open(png, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                chunk(b"IDAT", zlib.compress(bytes(rows), 6)) + chunk(b"IEND", b""))


FIT_LINE = re.compile(r"(-?\d+) (\w+) needs (\d+)x(\d+), has (\d+)x(\d+): (.*)", re.S)


def measurements(values):
    """The robot's fit-check lines: (fits, id, kind, needed, available, text) each."""
    found = []
    for verb, value in values:
        m = FIT_LINE.fullmatch(value) if verb in ("fit", "misfit") else None
        if m:
            found.append((verb == "fit", int(m.group(1)), m.group(2),
                          (int(m.group(3)), int(m.group(4))), (int(m.group(5)), int(m.group(6))),
                          m.group(7)))
    return found


def describe(language, screen, measured, dpi=96):
    _, control, kind, needed, available, text = measured
    at = "" if dpi == 96 else f" at {dpi} DPI"
    return (f"{language}/{file_name(screen)}{at}: control {control} ({kind}) {text!r} needs "
            f"{needed[0]}x{needed[1]} px, has {available[0]}x{available[1]} px")


def write_index(root, taken, misfits, measured_count):
    """SCREENSHOTS/index.html: a row per screen, a column per language at each of DPIS (a set of
    columns per scale), each picture at its real size under its name, and below the table the
    screens taken at CHECKED_DPIS. `taken`: {(language, dpi): set of screens}. Returns the number
    of pictures."""
    columns = [(name, dpi) for dpi in DPIS for name, *_ in LANGUAGES if taken.get((name, dpi))]
    count = sum(len(screens) for screens in taken.values())

    def cell(name, dpi, screen):
        folder = os.path.relpath(folder_of(root, name, dpi), root).replace(os.sep, "/")
        src = f"{folder}/{file_name(screen)}.png"
        return (f'<td><img src="{html.escape(src)}" alt="{html.escape(src)}"><br>'
                f"{html.escape(src)}</td>")

    rows = []
    for screen in SCREENS:
        cells = [cell(name, dpi, screen) if screen in taken[(name, dpi)] else
                 "<td>(not taken)</td>" for name, dpi in columns]
        rows.append(f"<tr><th>{file_name(screen)}</th>{''.join(cells)}</tr>")
    scales = [(dpi, sum(1 for _, d in columns if d == dpi)) for dpi in DPIS]
    others = [cell(name, dpi, screen) for (name, dpi), screens in sorted(taken.items())
              if dpi not in DPIS for screen in SCREENS if screen in screens]
    problems = "".join(f"<li>{html.escape(line)}</li>" for line in misfits)
    languages = len({name for name, _ in taken})
    page = (
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Screens</title>"
        "<style>td,th{vertical-align:top;padding:4px;font:12px sans-serif;text-align:left}"
        "</style></head><body>\n"
        f"<p>{count} screens in {languages} languages at "
        f"{', '.join(scale_name(d) for d in sorted({d for _, d in taken}))}; the fit check "
        f"measured {measured_count} texts, {len(misfits)} cut off.</p>\n"
        + (f"<ul>{problems}</ul>\n" if problems else "")
        + "<table border=\"1\"><tr><th></th>"
        + "".join(f'<th colspan="{n}">{scale_name(dpi)}</th>' for dpi, n in scales if n)
        + "</tr><tr><th>screen</th>"
        + "".join(f"<th>{html.escape(name)}</th>" for name, _ in columns) + "</tr>\n"
        + "\n".join(rows) + "\n</table>\n"
        + (f"<table border=\"1\"><tr>{''.join(others)}</tr></table>\n" if others else "")
        + "</body></html>\n")
    with open(os.path.join(root, "index.html"), "w", encoding="utf-8") as f:
        f.write(page)
    return count
