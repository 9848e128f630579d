#!/usr/bin/env python3
"""Draws the updater's emblem and writes the header bitmap and the program icon.

The emblem is a round badge: a deep-blue sea under a lighter sky, a crescent moon, and two
white wave crests, the upper one with a thin tide line beneath it. It is drawn from geometry
(no source artwork) with supersampling for soft edges.

Outputs, both committed next to the resource script (the build does not run this script):
  res/header.bmp   49 x 49, 24 bits per pixel, BI_RGB, no colour table, on white
  res/updater.ico  nine images in this order: 48/32/16 at 4 bpp, 48/32/16 at 24 bpp,
                   16/32/48 at 8 bpp

Python 3 standard library only. Usage: python3 tools/make_images.py [output-folder]
"""

import math
import os
import struct
import sys

SUPERSAMPLE = 8  # samples per pixel along each axis

# Colours of the emblem (R, G, B).
SKY_TOP = (118, 200, 244)
SKY_LOW = (52, 152, 222)
SEA_TOP = (20, 104, 186)
SEA_DEEP = (8, 44, 104)
RIM = (6, 36, 88)
CREST = (255, 255, 255)
FOAM = (214, 238, 252)
MOON = (255, 255, 255)
WHITE = (255, 255, 255)


def mix(a, b, t):
    t = min(max(t, 0.0), 1.0)
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def smooth(t):
    t = min(max(t, 0.0), 1.0)
    return t * t * (3.0 - 2.0 * t)


# Geometry in unit coordinates: (0, 0) top left, (1, 1) bottom right.
CENTER = 0.5
RADIUS = 0.47
RIM_WIDTH = 0.035


def crest_line(x, base, amplitude, phase):
    """A breaking-wave profile: a sine with a sharpened crest leaning to the right."""
    s = 2.0 * math.pi * (0.95 * x + phase)
    return base - amplitude * (math.sin(s) + 0.28 * math.sin(2.0 * s + 0.9))


def upper_crest(x):
    return crest_line(x, 0.55, 0.075, 0.08)


def lower_crest(x):
    return crest_line(x, 0.77, 0.045, 0.16)


def sample(x, y):
    """Colour of the emblem at a point, or None outside the badge."""
    dx, dy = x - CENTER, y - CENTER
    r = math.hypot(dx, dy)
    if r > RADIUS:
        return None
    if r > RADIUS - RIM_WIDTH:
        return RIM

    sea_top = upper_crest(x)
    if y < sea_top:
        # Sky with a crescent moon.
        colour = mix(SKY_TOP, SKY_LOW, smooth((y - 0.08) / max(sea_top - 0.08, 0.01)))
        in_moon = math.hypot(x - 0.66, y - 0.29) < 0.115
        in_shadow = math.hypot(x - 0.705, y - 0.255) < 0.10
        if in_moon and not in_shadow:
            return MOON
        return colour

    # The upper crest: a white band that thins towards its trough.
    band = 0.05 + 0.025 * math.sin(2.0 * math.pi * (0.95 * x + 0.08))
    if y < sea_top + band:
        return CREST
    # A thin light tide line under the crest.
    if sea_top + band + 0.03 < y < sea_top + band + 0.05:
        return FOAM

    sea = mix(SEA_TOP, SEA_DEEP, smooth((y - 0.5) / 0.45))
    low = lower_crest(x)
    low_band = 0.035 + 0.015 * math.sin(2.0 * math.pi * (0.95 * x + 0.16))
    if low <= y < low + low_band:
        return mix(CREST, SEA_TOP, 0.12)
    return sea


def render(size):
    """Returns rows (top first) of (colour, coverage) per pixel; colour is that of the covered
    part, unpremultiplied."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0]
            hits = 0
            for sy in range(n):
                for sx in range(n):
                    c = sample((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if c is not None:
                        hits += 1
                        acc[0] += c[0]
                        acc[1] += c[1]
                        acc[2] += c[2]
            coverage = hits / (n * n)
            colour = tuple(a / hits for a in acc) if hits else WHITE
            row.append((colour, coverage))
        rows.append(row)
    return rows


def to_bytes(colour):
    return tuple(int(round(min(max(c, 0.0), 255.0))) for c in colour)


def on_white(rows):
    return [[to_bytes(mix(WHITE, c, cov)) for c, cov in row] for row in rows]


def median_cut(colours, count):
    """Palette of at most `count` colours for a list of (r, g, b) byte triples."""
    unique = sorted(set(colours))
    if len(unique) <= count:
        return unique
    boxes = [unique]
    while len(boxes) < count:
        # Split the box with the widest channel range (weighted by its size).
        best, best_score, best_channel = None, -1, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for ch in range(3):
                lo = min(c[ch] for c in box)
                hi = max(c[ch] for c in box)
                score = (hi - lo) * math.sqrt(len(box))
                if score > best_score:
                    best, best_score, best_channel = i, score, ch
        if best is None:
            break
        box = sorted(boxes.pop(best), key=lambda c: c[best_channel])
        half = len(box) // 2
        boxes.extend([box[:half], box[half:]])
    palette = []
    for box in boxes:
        palette.append(tuple(int(round(sum(c[ch] for c in box) / len(box))) for ch in range(3)))
    return sorted(set(palette))


def nearest(palette, colour, cache):
    if colour in cache:
        return cache[colour]
    best, best_d = 0, None
    for i, p in enumerate(palette):
        d = (2 * (p[0] - colour[0]) ** 2 + 4 * (p[1] - colour[1]) ** 2 + 3 * (p[2] - colour[2]) ** 2)
        if best_d is None or d < best_d:
            best, best_d = i, d
    cache[colour] = best
    return best


def row_padding(nbytes):
    return b"\0" * ((4 - nbytes % 4) % 4)


def pack_24(rows):
    """Bottom-up 24-bit rows (BGR), each padded to four bytes."""
    out = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        out += line + row_padding(len(line))
    return bytes(out)


def pack_indexed(indices, bits):
    out = bytearray()
    per_byte = 8 // bits
    for row in reversed(indices):
        line = bytearray()
        for i in range(0, len(row), per_byte):
            value = 0
            for j in range(per_byte):
                value <<= bits
                if i + j < len(row):
                    value |= row[i + j]
            line.append(value)
        out += line + row_padding(len(line))
    return bytes(out)


def info_header(width, height, bits, image_size, colours_used=0):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, 0, 0,
                       colours_used, 0)


def header_bitmap():
    size = 49
    pixels = pack_24(on_white(render(size)))
    info = info_header(size, size, 24, len(pixels))
    offset = 14 + len(info)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return file_header + info + pixels


def icon_image(size, bits):
    """One icon image: BITMAPINFOHEADER (double height), colour table, XOR bits, AND mask."""
    rows = render(size)
    opaque = [[cov >= 0.5 for _, cov in row] for row in rows]
    # Transparent pixels are black in the colour bits so that they vanish under the mask.
    colours = [[to_bytes(c) if o else (0, 0, 0) for (c, _), o in zip(row, orow)]
               for row, orow in zip(rows, opaque)]

    table = b""
    if bits == 24:
        xor = pack_24(colours)
    else:
        count = 1 << bits
        visible = [c for row, orow in zip(colours, opaque) for c, o in zip(row, orow) if o]
        palette = [(0, 0, 0)] + [c for c in median_cut(visible, count - 1) if c != (0, 0, 0)]
        palette = palette[:count]
        cache = {}
        indices = [[nearest(palette, c, cache) if o else 0 for c, o in zip(row, orow)]
                   for row, orow in zip(colours, opaque)]
        palette += [(0, 0, 0)] * (count - len(palette))
        table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
        xor = pack_indexed(indices, bits)

    mask = pack_indexed([[0 if o else 1 for o in orow] for orow in opaque], 1)
    info = info_header(size, size * 2, bits, len(xor) + len(mask))
    return info + table + xor + mask


ICON_ORDER = [(48, 4), (32, 4), (16, 4), (48, 24), (32, 24), (16, 24), (16, 8), (32, 8), (48, 8)]


def icon_file():
    images = [(size, bits, icon_image(size, bits)) for size, bits in ICON_ORDER]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for size, bits, image in images:
        colour_count = (1 << bits) if bits < 8 else 0
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, colour_count, 0, 1, bits,
                               len(image), offset + len(data))
        data += image
    return directory + entries + data


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "res")
    with open(os.path.join(out, "header.bmp"), "wb") as f:
        f.write(header_bitmap())
    with open(os.path.join(out, "updater.ico"), "wb") as f:
        f.write(icon_file())


if __name__ == "__main__":
    main()
