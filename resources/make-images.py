#!/usr/bin/env python3
"""Draws the window icon (32 and 16 pixels) and the link cursor as 16-colour PNGs.

The pixels are defined here so that the images can be changed and rebuilt:
    python3 make-images.py && convert tessaly-16.png tessaly-32.png tessaly.ico
"""
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


def write_png(path, rows):
    keys = list(PALETTE)
    index = {key: i for i, key in enumerate(keys)}
    width = len(rows[0])
    assert all(len(row) == width for row in rows), path
    raw = bytearray()
    for row in rows:
        raw.append(0)  # no filter
        cells = [index[c] for c in row] + [0]
        raw.extend((cells[i] << 4) | cells[i + 1] for i in range(0, width, 2))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, len(rows), 4, 3, 0, 0, 0)
    plte = b"".join(bytes(PALETTE[k][:3]) for k in keys)
    trns = bytes(PALETTE[k][3] for k in keys)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"PLTE", plte)
                  + chunk(b"tRNS", trns) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
                  + chunk(b"IEND", b""))


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
    write_png("tessaly-32.png", chip_icon(32, (7, 3, 24, 28), range(6, 27, 4), 2,
                                          (14, 7, 17, 16), [4, 3, 2, 1, 0]))
    write_png("tessaly-16.png", chip_icon(16, (4, 1, 11, 14), range(3, 14, 3), 1,
                                          (7, 3, 8, 7), [2, 1, 0]))
    # The hot spot is the fingertip, column 12 of row 1.
    hand = [row.ljust(32, ".") for row in HAND]
    write_png("pointing-hand.png", hand + ["." * 32] * (32 - len(hand)))
