#!/usr/bin/env python3
"""Draws the icons and the link cursor.

The window's icon at 16 and 32 pixels and the cursor are set pixel by pixel (16-colour PNGs); the
same chip is drawn as shapes for 48 to 256 pixels and the scalable SVG; the Windows icon holds
16, 32, 48 and 256 pixels. Everything is defined here so that the images can be changed and
rebuilt, in this directory:
    python3 make-images.py
"""
import math
import struct
import zlib

PALETTE = {
    ".": (0, 0, 0, 0),  # transparent
    "K": (0, 0, 0, 255),
    "W": (255, 255, 255, 255),
    "G": (192, 192, 192, 255),  # pins
    "B": (0, 0, 128, 255),  # chip body
    "Y": (255, 204, 0, 255),  # arrow
}


def png_bytes(width, height, header_tail, raw, chunks=()):
    """A PNG of one IDAT; HEADER_TAIL is the IHDR after the size, CHUNKS go before the data."""

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">II", width, height) + header_tail
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + b"".join(chunk(kind, data) for kind, data in chunks)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def write_png(path, rows):
    """A 16-colour PNG of rows of PALETTE keys."""
    keys = list(PALETTE)
    index = {key: i for i, key in enumerate(keys)}
    width = len(rows[0])
    assert all(len(row) == width for row in rows), path
    raw = bytearray()
    for row in rows:
        raw.append(0)  # no filter
        cells = [index[c] for c in row] + [0]
        raw.extend((cells[i] << 4) | cells[i + 1] for i in range(0, width, 2))
    plte = b"".join(bytes(PALETTE[k][:3]) for k in keys)
    trns = bytes(PALETTE[k][3] for k in keys)
    with open(path, "wb") as out:
        out.write(png_bytes(width, len(rows), bytes([4, 3, 0, 0, 0]), raw,
                            [(b"PLTE", plte), (b"tRNS", trns)]))


def rgba_png_bytes(pixels):
    """A true-colour PNG with alpha of rows of (red, green, blue, alpha)."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # no filter
        for pixel in row:
            raw.extend(pixel)
    return png_bytes(len(pixels[0]), len(pixels), bytes([8, 6, 0, 0, 0]), raw)


def canvas(size):
    return [["."] * size for _ in range(size)]


def fill(image, left, top, right, bottom, colour):
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            image[y][x] = colour


def outline(image, left, top, right, bottom, colour):
    fill(image, left, top, right, top, colour)
    fill(image, left, bottom, right, bottom, colour)
    fill(image, left, top, left, bottom, colour)
    fill(image, right, top, right, bottom, colour)


def chip_icon(size, body, pin_rows, pin_height, shaft, head_rows):
    """A memory chip with pins on both sides and an arrow pointing down into it."""
    image = canvas(size)
    left, top, right, bottom = body
    pin_width = left - 1
    for y in pin_rows:
        fill(image, 1, y, left - 1, y + pin_height - 1, "G")
        fill(image, right + 1, y, right + pin_width, y + pin_height - 1, "G")
    fill(image, left, top, right, bottom, "B")
    outline(image, left, top, right, bottom, "K")
    shaft_left, shaft_top, shaft_right, shaft_bottom = shaft
    fill(image, shaft_left, shaft_top, shaft_right, shaft_bottom, "Y")
    for step, half_width in enumerate(head_rows):
        y = shaft_bottom + 1 + step
        fill(image, shaft_left - half_width, y, shaft_right + half_width, y, "Y")
    return ["".join(row) for row in image]


# The same chip, drawn: shapes on the 32-pixel image's grid, painted in order, for the sizes that
# launchers and installers ask for (48 pixels and up) and for the scalable icon.
PIN_ROWS = range(6, 27, 4)
SHAPES = (
    [("G", [(1, y), (7, y), (7, y + 2), (1, y + 2)]) for y in PIN_ROWS]
    + [("G", [(25, y), (31, y), (31, y + 2), (25, y + 2)]) for y in PIN_ROWS]
    + [("K", [(7, 3), (25, 3), (25, 29), (7, 29)]),
       ("B", [(8, 4), (24, 4), (24, 28), (8, 28)]),
       ("Y", [(14, 7), (18, 7), (18, 17), (14, 17)]),
       ("Y", [(10, 17), (22, 17), (16, 23)])]
)


def span(points, y):
    """Where the horizontal line at Y crosses the convex polygon: (left, right) or None."""
    crossings = []
    for (x1, y1), (x2, y2) in zip(points, points[1:] + points[:1]):
        if min(y1, y2) <= y < max(y1, y2):
            crossings.append(x1 + (y - y1) * (x2 - x1) / (y2 - y1))
    return (min(crossings), max(crossings)) if crossings else None


def drawn_icon(size, samples=4):
    """SHAPES at SIZE pixels, corners on whole pixels so that straight edges stay sharp, each pixel
    the mean of SAMPLES x SAMPLES points so that slanted ones are smooth."""
    scale = size / 32
    shapes = [(key, [(round(x * scale), round(y * scale)) for x, y in points])
              for key, points in SHAPES]
    sums = [[[0, 0, 0, 0] for _ in range(size)] for _ in range(size)]
    for row in range(size * samples):
        keys = ["."] * (size * samples)
        for key, points in shapes:
            crossing = span(points, (row + 0.5) / samples)
            if crossing:
                first, last = (max(0, math.ceil(x * samples - 0.5)) for x in crossing)
                keys[first:last] = [key] * (last - first)
        for column, key in enumerate(keys):
            red, green, blue, alpha = PALETTE[key]
            if alpha:
                cell = sums[row // samples][column // samples]
                cell[0] += red
                cell[1] += green
                cell[2] += blue
                cell[3] += 1
    return [[rgba_mean(cell, samples * samples) for cell in line] for line in sums]


def rgba_mean(cell, samples):
    red, green, blue, covered = cell
    if not covered:
        return (0, 0, 0, 0)
    return (round(red / covered), round(green / covered), round(blue / covered),
            round(255 * covered / samples))


def svg_icon():
    def colour(key):
        return "#%02x%02x%02x" % PALETTE[key][:3]

    shapes = "".join('  <polygon fill="%s" points="%s"/>\n'
                     % (colour(key), " ".join("%g,%g" % point for point in points))
                     for key, points in SHAPES)
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">\n'
            + shapes + "</svg>\n")


def pixels(rows):
    """RGBA rows of an image given as rows of PALETTE keys."""
    return [[PALETTE[key] for key in row] for row in rows]


def ico_bytes(images):
    """A Windows icon of RGBA images: bitmaps up to 48 pixels, as older Windows reads them; a PNG
    at 256 pixels."""
    entries = []
    for image in images:
        size = len(image)
        if size >= 256:
            entries.append((size, rgba_png_bytes(image)))
            continue
        header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, size * size * 4,
                             0, 0, 0, 0)
        colours = b"".join(bytes((b, g, r, a)) for row in reversed(image) for r, g, b, a in row)
        mask_row_bytes = (size + 31) // 32 * 4
        mask = b"".join(transparency_mask(row, mask_row_bytes) for row in reversed(image))
        entries.append((size, header + colours + mask))
    data = struct.pack("<HHH", 0, 1, len(entries))
    offset = len(data) + 16 * len(entries)
    for size, body in entries:
        data += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(body), offset)
        offset += len(body)
    return data + b"".join(body for _, body in entries)


def transparency_mask(row, row_bytes):
    bits = 0
    for pixel in row:
        bits = (bits << 1) | (pixel[3] == 0)
    bits <<= row_bytes * 8 - len(row)
    return bits.to_bytes(row_bytes, "big")


HAND = [
    "",
    "...........KKK",
    "..........KWWWK",
    "..........KWWWK",
    "..........KWWWK",
    "..........KWWWK",
    "..........KWWWKKK",
    "..........KWWWKWWKKK",
    "..........KWWWKWWKWWKKK",
    "..........KWWWKWWKWWKWWK",
    ".....KKK..KWWWKWWKWWKWWK",
    "....KWWWK.KWWWWWWWWWWWWK",
    "....KWWWWKKWWWWWWWWWWWWK",
    ".....KWWWWKWWWWWWWWWWWWK",
    "......KWWWWWWWWWWWWWWWWK",
    ".......KWWWWWWWWWWWWWWWK",
    ".......KWWWWWWWWWWWWWWK",
    "........KWWWWWWWWWWWWWK",
    ".........KWWWWWWWWWWWK",
    "..........KWWWWWWWWWWK",
    "..........KWWWWWWWWWWK",
    "..........KKKKKKKKKKKK",
]

if __name__ == "__main__":
    small = {
        16: chip_icon(16, (4, 1, 11, 14), range(3, 14, 3), 1, (7, 3, 8, 7), [2, 1, 0]),
        32: chip_icon(32, (7, 3, 24, 28), range(6, 27, 4), 2, (14, 7, 17, 16), [4, 3, 2, 1, 0]),
    }
    for size, rows in small.items():
        write_png("tessaly-%d.png" % size, rows)
    drawn = {size: drawn_icon(size) for size in (48, 64, 128, 256)}
    for size, image in drawn.items():
        with open("tessaly-%d.png" % size, "wb") as out:
            out.write(rgba_png_bytes(image))
    with open("tessaly.svg", "w") as out:
        out.write(svg_icon())
    with open("tessaly.ico", "wb") as out:
        out.write(ico_bytes([pixels(small[16]), pixels(small[32]), drawn[48], drawn[256]]))
    # The hot spot is the fingertip, column 12 of row 1.
    hand = [row.ljust(32, ".") for row in HAND]
    write_png("pointing-hand.png", hand + ["." * 32] * (32 - len(hand)))
