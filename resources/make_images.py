#!/usr/bin/env python3
"""Draws the installer's images and writes them with a resource script that names them.

Usage: make_images.py OUTPUT_DIR

Writes app.ico (32x32 and 16x16), one 16x12 flag icon per language (flag_<id>.ico), side.bmp
(87x171, 256 colours) and images.rc, the same bytes on every run and in every folder. Everything is drawn here from simple shapes; the ICO and
BMP bytes are assembled by hand so that only the standard library is needed.
"""
import hashlib
import math
import os
import struct
import sys

# ---------------------------------------------------------------------------------------------
# File formats


def ico_bytes(images):
    """An ICO file of 32-bit images; each image is a list of rows of (r, g, b, a)."""
    header = struct.pack('<HHH', 0, 1, len(images))
    entries = b''
    blobs = b''
    offset = 6 + 16 * len(images)
    for rows in images:
        height, width = len(rows), len(rows[0])
        xor = b''
        for row in reversed(rows):  # bottom-up
            xor += b''.join(struct.pack('BBBB', b, g, r, a) for r, g, b, a in row)
        and_stride = ((width + 31) // 32) * 4
        mask = b''
        for row in reversed(rows):
            bits = bytearray(and_stride)
            for x, (_, _, _, a) in enumerate(row):
                if a == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(bits)
        info = struct.pack('<IiiHHIIiiII', 40, width, height * 2, 1, 32, 0, len(xor) + len(mask),
                           0, 0, 0, 0)
        blob = info + xor + mask
        entries += struct.pack('<BBBBHHII', width, height, 0, 0, 1, 32, len(blob), offset)
        blobs += blob
        offset += len(blob)
    return header + entries + blobs


def bmp8_bytes(pixels, palette):
    """A 256-colour BMP file: pixels are rows of palette indices, palette is 256 (r, g, b)."""
    height, width = len(pixels), len(pixels[0])
    stride = (width + 3) // 4 * 4
    data = b''
    for row in reversed(pixels):
        data += bytes(row) + bytes(stride - width)
    pal = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in palette)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 8, 0, len(data), 2835, 2835, 256, 0)
    offset = 14 + len(info) + len(pal)
    head = struct.pack('<2sIHHI', b'BM', offset + len(data), 0, 0, offset)
    return head + info + pal + data


# ---------------------------------------------------------------------------------------------
# Flags, 16 x 12


W, H = 16, 12
RED = (206, 17, 38)
WHITE = (255, 255, 255)
BLUE = (0, 56, 168)
NAVY = (1, 33, 105)
GREEN = (0, 140, 69)
YELLOW = (255, 205, 0)
BLACK = (0, 0, 0)
SKY = (13, 94, 175)


def canvas(color):
    return [[color] * W for _ in range(H)]


def stripe_color(fraction, colors, weights):
    """The color of the band that `fraction` (0..1) of the way across falls into."""
    weights = weights or [1] * len(colors)
    pos = fraction * sum(weights)
    acc = 0
    for c, w in zip(colors, weights):
        acc += w
        if pos < acc:
            return c
    return colors[-1]


def hstripes(*colors, weights=None):
    return [[stripe_color((y + 0.5) / H, colors, weights)] * W for y in range(H)]


def vstripes(*colors, weights=None):
    row = [stripe_color((x + 0.5) / W, colors, weights) for x in range(W)]
    return [list(row) for _ in range(H)]


def fill(img, inside, color):
    for y in range(H):
        for x in range(W):
            if inside(x + 0.5, y + 0.5):
                img[y][x] = color
    return img


def star_inside(cx, cy, r_out, r_in=None, points=5, turn=-math.pi / 2):
    r_in = r_in if r_in is not None else r_out * 0.4
    poly = []
    for i in range(points * 2):
        r = r_out if i % 2 == 0 else r_in
        a = turn + i * math.pi / points
        poly.append((cx + r * math.cos(a), cy + r * math.sin(a)))

    def inside(x, y):
        hit = False
        j = len(poly) - 1
        for i in range(len(poly)):
            xi, yi = poly[i]
            xj, yj = poly[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit
    return inside


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def nordic(field, cross, inner=None):
    img = canvas(field)
    fill(img, lambda x, y: 4 <= x < 7 or 4.5 <= y < 7.5, cross)
    if inner:
        fill(img, lambda x, y: 5 <= x < 6 or 5.5 <= y < 6.5, inner)
    return img


def union():
    img = canvas(NAVY)

    def diagonal(width):
        # Distance of the pixel centre from either corner-to-corner line, in pixels.
        return lambda x, y: min(abs(H * x - W * y), abs(H * x - W * (H - y))) / 20 < width

    fill(img, diagonal(1.7), WHITE)
    fill(img, diagonal(0.6), RED)
    fill(img, lambda x, y: 6 <= x < 10 or 4 <= y < 8, WHITE)
    fill(img, lambda x, y: 7 <= x < 9 or 5 <= y < 7, RED)
    return img


def greece():
    img = hstripes(*([SKY, WHITE] * 4 + [SKY]))
    fill(img, lambda x, y: x < 7 and y < 7, SKY)
    fill(img, lambda x, y: x < 7 and y < 7 and (3 <= x < 4 or 3 <= y < 4), WHITE)
    return img


def israel():
    img = canvas(WHITE)
    fill(img, lambda x, y: 1 <= y < 2.5 or 9.5 <= y < 11, BLUE)
    star = star_inside(8, 6, 3.4, 3.4 * 0.58, points=6)
    fill(img, lambda x, y: star(x, y) and not disc(8, 6, 1.2)(x, y), BLUE)
    return img


def czech():
    img = hstripes(WHITE, RED)
    fill(img, lambda x, y: x < 8 * (1 - abs(y - 6) / 6), BLUE)
    return img


def turkey():
    img = canvas(RED)
    fill(img, lambda x, y: disc(6, 6, 4)(x, y) and not disc(7.2, 6, 3.2)(x, y), WHITE)
    fill(img, star_inside(11, 6, 2.2, 1.0, turn=math.pi), WHITE)
    return img


def portugal():
    img = vstripes(GREEN, RED, weights=[2, 3])
    fill(img, disc(6.4, 6, 2.4), YELLOW)
    fill(img, disc(6.4, 6, 1.4), RED)
    fill(img, disc(6.4, 6, 0.8), WHITE)
    return img


def china():
    img = canvas(RED)
    fill(img, star_inside(3.5, 3.5, 2.6), YELLOW)
    for cx, cy in ((7, 1.5), (8.2, 3), (8.2, 5), (7, 6.5)):
        fill(img, disc(cx, cy, 0.6), YELLOW)
    return img


FLAGS = {
    141: hstripes(BLACK, (221, 0, 0), YELLOW),            # German
    142: nordic((200, 16, 46), WHITE),                     # Danish
    143: hstripes((170, 21, 27), (241, 191, 0), (170, 21, 27), weights=[1, 2, 1]),  # Spanish
    144: vstripes(BLUE, WHITE, (239, 65, 53)),             # French
    145: union(),                                          # English
    146: vstripes(GREEN, WHITE, RED),                      # Italian
    147: hstripes((174, 28, 40), WHITE, (33, 70, 139)),    # Dutch
    148: portugal(),                                       # Portuguese
    149: turkey(),                                         # Turkish
    150: hstripes(WHITE, (0, 150, 110), (214, 38, 18)),    # Bulgarian
    151: vstripes(BLUE, (252, 209, 22), RED),              # Romanian
    152: china(),                                          # Chinese
    153: czech(),                                          # Czech
    154: nordic((186, 12, 47), WHITE, NAVY),               # Norwegian
    155: greece(),                                         # Greek
    156: hstripes(WHITE, (220, 20, 60)),                   # Polish
    157: israel(),                                         # Hebrew
    158: fill(canvas((218, 37, 29)), star_inside(8, 6.3, 4.2), YELLOW),  # Vietnamese
    160: fill(canvas(WHITE), disc(8, 6, 3.4), (188, 0, 45)),  # Japanese
    161: hstripes((205, 42, 62), WHITE, (67, 111, 77)),    # Hungarian
    162: hstripes((198, 54, 60), (12, 64, 118), WHITE),    # Serbian
}


def opaque(img):
    return [[(r, g, b, 255) for r, g, b in row] for row in img]


# ---------------------------------------------------------------------------------------------
# Application icon: a teal tile with three interlocking white hexagons and a down arrow, drawn
# with 4 x 4 supersampling at each size.


def hexagon(cx, cy, r):
    def inside(x, y):
        dx, dy = abs(x - cx), abs(y - cy)
        return dy <= r * math.sqrt(3) / 2 and dx * math.sqrt(3) / 2 + dy / 2 <= r * math.sqrt(3) / 2
    return inside


def app_icon(size):
    s = size / 32.0

    def tile(x, y):
        # Rounded square with a 5-pixel corner radius (in 32-pixel units).
        r = 5
        qx = min(max(x, r + 1), 31 - r)
        qy = min(max(y, r + 1), 31 - r)
        return (x - qx) ** 2 + (y - qy) ** 2 <= r * r and 1 <= x <= 31 and 1 <= y <= 31

    hexes = [hexagon(11, 11, 6), hexagon(21, 11, 6), hexagon(16, 19.7, 6)]
    holes = [hexagon(11, 11, 3.6), hexagon(21, 11, 3.6), hexagon(16, 19.7, 3.6)]

    def arrow(x, y):
        return (14 <= x <= 18 and 17 <= y <= 24) or (y >= 23 and y <= 29 and abs(x - 16) <= 29 - y)

    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(4):
                for sx in range(4):
                    x = (px + (sx + 0.5) / 4) / s
                    y = (py + (sy + 0.5) / 4) / s
                    if not tile(x, y):
                        continue
                    t = y / 32.0
                    color = (int(20 + 20 * t), int(150 - 60 * t), int(160 - 40 * t))
                    ring = any(h(x, y) for h in hexes) and not any(h(x, y) for h in holes)
                    if ring:
                        color = (235, 248, 246)
                    if arrow(x, y):
                        color = (255, 196, 40)
                    acc[0] += color[0]
                    acc[1] += color[1]
                    acc[2] += color[2]
                    acc[3] += 255
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                # Average colour of the covered samples; alpha is the covered fraction.
                covered = acc[3] / 255
                row.append((int(acc[0] / covered), int(acc[1] / covered), int(acc[2] / covered),
                            int(round(acc[3] / 16))))
        rows.append(row)
    return rows


# ---------------------------------------------------------------------------------------------
# Side picture, 87 x 171, 256 colours: a deep-blue to teal gradient crossed by a honeycomb whose
# outlines brighten towards the bottom.


def side_picture():
    width, height = 87, 171
    top, bottom, line = (10, 30, 70), (20, 130, 135), (225, 245, 240)
    palette = []
    for i in range(192):  # background ramp
        t = i / 191
        palette.append(tuple(int(top[c] + (bottom[c] - top[c]) * t) for c in range(3)))
    for i in range(64):  # outline ramp, from the background's mid tone to near white
        t = i / 63
        mid = palette[96]
        palette.append(tuple(int(mid[c] + (line[c] - mid[c]) * t) for c in range(3)))

    r = 11.0
    hx = r * math.sqrt(3)  # horizontal distance between centres
    pixels = []
    for y in range(height):
        row = []
        base = int(y / (height - 1) * 191)
        for x in range(width):
            # Distance to the nearest hexagon edge on a pointy-top lattice.
            best = 1e9
            row_i = round(y / (1.5 * r))
            for j in (row_i - 1, row_i, row_i + 1):
                cy = j * 1.5 * r
                off = (hx / 2) if j % 2 else 0
                col_i = round((x - off) / hx)
                for i in (col_i - 1, col_i, col_i + 1):
                    cx = i * hx + off
                    dx, dy = abs(x - cx), abs(y - cy)
                    # Hexagon "radius" in its own metric (pointy top).
                    d = max(dx * 2 / math.sqrt(3), dx / math.sqrt(3) + dy)
                    best = min(best, r - d if d <= r else 1e9)
            edge = best < 1.2
            if edge:
                strength = (y / height) * 0.8 + 0.2
                row.append(192 + min(63, int(strength * 63)))
            else:
                row.append(base)
        pixels.append(row)
    return pixels, palette


# ---------------------------------------------------------------------------------------------


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)

    pictures = hashlib.sha256()

    def write(name, data):
        pictures.update(data)
        # Same bytes from every run; a file that is already right keeps its time stamp, so that
        # configuring again rebuilds nothing.
        path = os.path.join(out, name)
        if not os.path.exists(path) or open(path, 'rb').read() != data:
            with open(path, 'wb') as f:
                f.write(data)
        return name

    lines = ['// Generated by make_images.py: application icon, flag icons and side picture.',
             'LANGUAGE 0, 0']
    lines.append('128 ICON "%s"' % write('app.ico', ico_bytes([app_icon(32), app_icon(16)])))
    for icon_id, img in sorted(FLAGS.items()):
        lines.append('%d ICON "%s"' % (icon_id, write('flag_%d.ico' % icon_id,
                                                      ico_bytes([opaque(img)]))))
    pixels, palette = side_picture()
    lines.append('137 BITMAP "%s"' % write('side.bmp', bmp8_bytes(pixels, palette)))
    # windres finds the files beside the script, so it names them without a folder. The digest
    # of the pictures changes the script whenever a picture changes: windres reports no
    # dependencies, so the build sees changed pictures only through the script.
    lines.insert(1, '// Pictures: sha256 %s' % pictures.hexdigest())
    write('images.rc', ('\n'.join(lines) + '\n').encode('ascii'))


if __name__ == '__main__':
    main()
