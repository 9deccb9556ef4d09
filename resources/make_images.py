#!/usr/bin/env python3
"""Draws the installer's images and writes them with a resource script that names them.

Usage: make_images.py OUTPUT_DIR

Every picture is drawn for each display scale the programs support (100, 125, 150, 175 and
200 %), each size from the shapes themselves rather than by scaling a smaller bitmap: app.ico
(16 to 64 pixels, the large and small icon of every scale), one flag icon per language
(flag_<id>.ico, 16x12 at 100 % to 32x24 at 200 %), the side picture (side.bmp, 87x171 at 100 %,
256 colours, and side_<scale>.bmp for the others) and images.rc, the same bytes on every run and
in every folder. A size at a scale is the size at 100 % times the scale, rounded down. The ICO and
BMP bytes are assembled by hand so that only the standard library is needed.
"""
import hashlib
import math
import os
import struct
import sys

# The display scales, in per cent, that every picture is drawn for.
SCALES = (100, 125, 150, 175, 200)


def at_scale(pixels, scale):
    """A length of `pixels` at 100 % at `scale` per cent, rounded down (as the programs size it)."""
    return pixels * scale // 100

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
# Flags, 16 x 12 at 100 %. Each flag is a painting: the colour at a point given in 16 x 12 flag
# units. It is sampled at the centre of every pixel of the size drawn, so that each size is drawn
# from the shapes.


W, H = 16, 12
RED = (206, 17, 38)
WHITE = (255, 255, 255)
BLUE = (0, 56, 168)
NAVY = (1, 33, 105)
GREEN = (0, 140, 69)
YELLOW = (255, 205, 0)
BLACK = (0, 0, 0)
SKY = (13, 94, 175)


def plain(color):
    return lambda x, y: color


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
    return lambda x, y: stripe_color(y / H, colors, weights)


def vstripes(*colors, weights=None):
    return lambda x, y: stripe_color(x / W, colors, weights)


def fill(base, inside, color):
    """The painting `base` with `color` wherever `inside` holds."""
    return lambda x, y: color if inside(x, y) else base(x, y)


def draw_flag(paint, width, height):
    """The flag as rows of colours at `width` x `height` pixels."""
    return [[paint((px + 0.5) * W / width, (py + 0.5) * H / height) for px in range(width)]
            for py in range(height)]


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
    img = fill(plain(field), lambda x, y: 4 <= x < 7 or 4.5 <= y < 7.5, cross)
    if inner:
        img = fill(img, lambda x, y: 5 <= x < 6 or 5.5 <= y < 6.5, inner)
    return img


def union():
    def diagonal(width):
        # Distance of the point from either corner-to-corner line, in pixels at 100 %.
        return lambda x, y: min(abs(H * x - W * y), abs(H * x - W * (H - y))) / 20 < width

    img = fill(plain(NAVY), diagonal(1.7), WHITE)
    img = fill(img, diagonal(0.6), RED)
    img = fill(img, lambda x, y: 6 <= x < 10 or 4 <= y < 8, WHITE)
    return fill(img, lambda x, y: 7 <= x < 9 or 5 <= y < 7, RED)


def greece():
    img = hstripes(*([SKY, WHITE] * 4 + [SKY]))
    img = fill(img, lambda x, y: x < 7 and y < 7, SKY)
    return fill(img, lambda x, y: x < 7 and y < 7 and (3 <= x < 4 or 3 <= y < 4), WHITE)


def israel():
    img = fill(plain(WHITE), lambda x, y: 1 <= y < 2.5 or 9.5 <= y < 11, BLUE)
    star = star_inside(8, 6, 3.4, 3.4 * 0.58, points=6)
    return fill(img, lambda x, y: star(x, y) and not disc(8, 6, 1.2)(x, y), BLUE)


def czech():
    return fill(hstripes(WHITE, RED), lambda x, y: x < 8 * (1 - abs(y - 6) / 6), BLUE)


def turkey():
    img = fill(plain(RED), lambda x, y: disc(6, 6, 4)(x, y) and not disc(7.2, 6, 3.2)(x, y), WHITE)
    return fill(img, star_inside(11, 6, 2.2, 1.0, turn=math.pi), WHITE)


def portugal():
    img = fill(vstripes(GREEN, RED, weights=[2, 3]), disc(6.4, 6, 2.4), YELLOW)
    img = fill(img, disc(6.4, 6, 1.4), RED)
    return fill(img, disc(6.4, 6, 0.8), WHITE)


def china():
    img = fill(plain(RED), star_inside(3.5, 3.5, 2.6), YELLOW)
    for cx, cy in ((7, 1.5), (8.2, 3), (8.2, 5), (7, 6.5)):
        img = fill(img, disc(cx, cy, 0.6), YELLOW)
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
    158: fill(plain((218, 37, 29)), star_inside(8, 6.3, 4.2), YELLOW),  # Vietnamese
    160: fill(plain(WHITE), disc(8, 6, 3.4), (188, 0, 45)),  # Japanese
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
# Side picture, 87 x 171 at 100 %, 256 colours: a deep-blue to teal gradient crossed by a
# honeycomb whose outlines brighten towards the bottom. At a larger scale the honeycomb, its
# outlines and the gradient are drawn at that size: every pixel is sampled where its centre lies
# in the picture at 100 %.


SIDE_WIDTH, SIDE_HEIGHT = 87, 171


def side_picture(scale=100):
    """(rows of palette indices, palette) of the side picture at `scale` per cent."""
    width, height = at_scale(SIDE_WIDTH, scale), at_scale(SIDE_HEIGHT, scale)
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
    for py in range(height):
        row = []
        base = int(py / (height - 1) * 191)
        # Where the pixel's centre lies at 100 %, whose pixel centres are the whole numbers.
        y = (py + 0.5) * 100 / scale - 0.5
        for px in range(width):
            x = (px + 0.5) * 100 / scale - 0.5
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
                strength = (py / height) * 0.8 + 0.2
                row.append(192 + min(63, int(strength * 63)))
            else:
                row.append(base)
        pixels.append(row)
    return pixels, palette


# ---------------------------------------------------------------------------------------------
# Which sizes are drawn, and the resources that name them.

# The application icon's sizes: the large (32) and small (16) icon of every scale. The first one
# is what a program gets when it asks for the icon without a size.
APP_ICON_SIZES = (32, 16) + tuple(sorted({at_scale(edge, scale) for edge in (32, 16)
                                          for scale in SCALES[1:]} - {32, 16}))
# The side picture's bitmap resources: 137 at 100 %, then one number more for each larger scale.
SIDE_PICTURE_ID = 137


def side_file(scale):
    return 'side.bmp' if scale == 100 else 'side_%d.bmp' % scale


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

    lines = ['// Generated by make_images.py: application icon, flag icons and side pictures.',
             'LANGUAGE 0, 0']
    lines.append('128 ICON "%s"' % write('app.ico', ico_bytes([app_icon(edge)
                                                               for edge in APP_ICON_SIZES])))
    for icon_id, paint in sorted(FLAGS.items()):
        images = [opaque(draw_flag(paint, at_scale(W, scale), at_scale(H, scale)))
                  for scale in SCALES]
        lines.append('%d ICON "%s"' % (icon_id, write('flag_%d.ico' % icon_id, ico_bytes(images))))
    for index, scale in enumerate(SCALES):
        pixels, palette = side_picture(scale)
        lines.append('%d BITMAP "%s"' % (SIDE_PICTURE_ID + index,
                                         write(side_file(scale), bmp8_bytes(pixels, palette))))
    # windres finds the files beside the script, so it names them without a folder. The digest
    # of the pictures changes the script whenever a picture changes: windres reports no
    # dependencies, so the build sees changed pictures only through the script.
    lines.insert(1, '// Pictures: sha256 %s' % pictures.hexdigest())
    write('images.rc', ('\n'.join(lines) + '\n').encode('ascii'))


if __name__ == '__main__':
    main()
