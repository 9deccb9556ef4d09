"""The screenshot gallery of the end-to-end run: every screen of the installer and of the
uninstaller in every installer language, as SCREENSHOTS/<language>/NN-name.png, an index page
with one row per screen and one column per language, and the robot's fit-check lines read back
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


def folder_of(root, language):
    return os.path.join(root, language.lower())


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


def describe(language, screen, measured):
    _, control, kind, needed, available, text = measured
    return (f"{language}/{file_name(screen)}: control {control} ({kind}) {text!r} needs "
            f"{needed[0]}x{needed[1]} px, has {available[0]}x{available[1]} px")


def write_index(root, taken, misfits, measured_count):
    """SCREENSHOTS/index.html: a row per screen, a column per language, each picture at its
    real size under its name. `taken`: {language: set of screens}. Returns the number of
    pictures."""
    languages = [name for name, *_ in LANGUAGES if taken.get(name)]
    count = sum(len(taken[name]) for name in languages)
    rows = []
    for screen in SCREENS:
        cells = []
        for name in languages:
            if screen in taken[name]:
                src = f"{name.lower()}/{file_name(screen)}.png"
                cells.append(f'<td><img src="{src}" alt="{html.escape(src)}"><br>'
                             f"{html.escape(src)}</td>")
            else:
                cells.append("<td>(not taken)</td>")
        rows.append(f"<tr><th>{file_name(screen)}</th>{''.join(cells)}</tr>")
    problems = "".join(f"<li>{html.escape(line)}</li>" for line in misfits)
    page = (
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Screens</title>"
        "<style>td,th{vertical-align:top;padding:4px;font:12px sans-serif;text-align:left}"
        "</style></head><body>\n"
        f"<p>{count} screens in {len(languages)} languages; the fit check measured "
        f"{measured_count} texts, {len(misfits)} cut off.</p>\n"
        + (f"<ul>{problems}</ul>\n" if problems else "")
        + "<table border=\"1\"><tr><th>screen</th>"
        + "".join(f"<th>{html.escape(name)}</th>" for name in languages) + "</tr>\n"
        + "\n".join(rows) + "\n</table></body></html>\n")
    with open(os.path.join(root, "index.html"), "w", encoding="utf-8") as f:
        f.write(page)
    return count
