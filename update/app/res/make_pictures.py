#!/usr/bin/env python3
"""Draws the pictures of the update window, reproducibly, with the Python
standard library only.

    make_pictures.py OUTPUT_DIR

Writes:
  close.png       84 x 21, RGBA: four 21 x 21 frames of a cross (normal white,
                  hover orange, pressed darker orange, disabled empty)
  minimize.png    84 x 21, RGBA: the same four frames with a horizontal bar
  background.png  630 x 390, RGBA: dark upper area with the title and a framed
                  box for the notes, light lower area for status and progress
  scrollskin.bmp  153 x 51, 24-bit: 9 x 3 cells of 17 pixels (arrows, thumb,
                  track for vertical and horizontal bars, corner), white with a
                  grey thumb and grey arrow glyphs
  update.ico      32 x 32 and 16 x 16, 32-bit: an orange disc with a white arrow
"""
import os
import struct
import sys
import zlib

WHITE = (255, 255, 255, 255)
CLEAR = (0, 0, 0, 0)
ORANGE = (255, 153, 0, 255)
DARK_ORANGE = (214, 102, 0, 255)


class Canvas:
    def __init__(self, width, height, fill=CLEAR):
        self.width = width
        self.height = height
        self.pixels = [list(fill) for _ in range(width * height)]

    def put(self, x, y, color):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y * self.width + x] = list(color)

    def get(self, x, y):
        return tuple(self.pixels[y * self.width + x])

    def rect(self, x0, y0, x1, y1, color):
        for y in range(max(0, y0), min(self.height, y1)):
            for x in range(max(0, x0), min(self.width, x1)):
                self.pixels[y * self.width + x] = list(color)

    def frame(self, x0, y0, x1, y1, color):
        self.rect(x0, y0, x1, y0 + 1, color)
        self.rect(x0, y1 - 1, x1, y1, color)
        self.rect(x0, y0, x0 + 1, y1, color)
        self.rect(x1 - 1, y0, x1, y1, color)

    def png(self):
        raw = bytearray()
        for y in range(self.height):
            raw.append(0)
            for x in range(self.width):
                raw.extend(self.pixels[y * self.width + x])

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 6, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))

    def bmp24(self):
        row = (self.width * 3 + 3) & ~3
        data = bytearray()
        for y in range(self.height - 1, -1, -1):
            line = bytearray()
            for x in range(self.width):
                r, g, b, _ = self.pixels[y * self.width + x]
                line.extend((b, g, r))
            line.extend(b"\0" * (row - len(line)))
            data.extend(line)
        info = struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
        head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
        return head + info + bytes(data)

    def dib32(self):
        """Bottom-up 32-bit DIB with an AND mask, as an icon image."""
        info = struct.pack("<IiiHHIIiiII", 40, self.width, self.height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        data = bytearray()
        for y in range(self.height - 1, -1, -1):
            for x in range(self.width):
                r, g, b, a = self.pixels[y * self.width + x]
                data.extend((b, g, r, a))
        mask_row = ((self.width + 31) // 32) * 4
        data.extend(b"\0" * (mask_row * self.height))
        return info + bytes(data)


def cross(canvas, ox, color):
    for i in range(5, 16):
        for d in (0, 1):  # two pixels thick
            canvas.put(ox + i + d, i, color)
            canvas.put(ox + 20 - i - d, i, color)


def bar(canvas, ox, color):
    canvas.rect(ox + 5, 10, ox + 16, 12, color)


def button_strip(glyph):
    canvas = Canvas(84, 21)
    for frame, color in enumerate((WHITE, ORANGE, DARK_ORANGE)):
        glyph(canvas, frame * 21, color)
    return canvas  # frame 3 (disabled) stays empty


def background():
    width, height = 630, 390
    canvas = Canvas(width, height, (246, 246, 246, 255))
    split = 300
    for y in range(split):  # dark upper area with a gentle vertical gradient
        shade = 34 + y * 18 // split
        canvas.rect(0, y, width, y + 1, (shade, shade + 6, shade + 22, 255))
    # Title mark: an orange square and a light bar standing for the title.
    canvas.rect(30, 14, 44, 28, ORANGE)
    canvas.rect(52, 18, 190, 24, (220, 224, 235, 255))
    # Framed box where the notes go (the window draws the white box itself).
    canvas.frame(86, 100, 546, 260, (90, 100, 125, 255))
    canvas.frame(30, 318, 600, 319, (225, 225, 225, 255))
    return canvas


def scroll_skin():
    size = 17
    canvas = Canvas(size * 9, size * 3, WHITE)
    grey = [(200, 200, 200, 255), (170, 170, 170, 255), (140, 140, 140, 255)]
    glyph = [(150, 150, 150, 255), (110, 110, 110, 255), (80, 80, 80, 255)]
    for row in range(3):
        y0 = row * size
        for col in (2, 6):  # thumbs
            x0 = col * size
            canvas.rect(x0 + 3, y0 + 3, x0 + size - 3, y0 + size - 3, grey[row])
        for col, direction in ((0, "up"), (1, "down"), (4, "left"), (5, "right")):
            x0 = col * size
            for i in range(4):
                for j in range(-i, i + 1):
                    if direction == "up":
                        canvas.put(x0 + 8 + j, y0 + 6 + i, glyph[row])
                    elif direction == "down":
                        canvas.put(x0 + 8 + j, y0 + 10 - i, glyph[row])
                    elif direction == "left":
                        canvas.put(x0 + 6 + i, y0 + 8 + j, glyph[row])
                    else:
                        canvas.put(x0 + 10 - i, y0 + 8 + j, glyph[row])
    return canvas


def icon_image(size):
    canvas = Canvas(size, size)
    c = (size - 1) / 2.0
    r2 = (size / 2.0 - 0.5) ** 2
    for y in range(size):
        for x in range(size):
            if (x - c) ** 2 + (y - c) ** 2 <= r2:
                canvas.put(x, y, ORANGE)
    s = size / 32.0
    # A downward arrow: shaft, then a head narrowing to its tip.
    canvas.rect(int(13 * s), int(6 * s), int(19 * s), int(16 * s), WHITE)
    head = int(9 * s)
    for k in range(head):
        half = head - k
        canvas.rect(int(16 * s) - half, int(16 * s) + k, int(16 * s) + half, int(16 * s) + k + 1, WHITE)
    return canvas


def icon_file():
    images = [icon_image(32).dib32(), icon_image(16).dib32()]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(out, exist_ok=True)
    files = {
        "close.png": button_strip(cross).png(),
        "minimize.png": button_strip(bar).png(),
        "background.png": background().png(),
        "scrollskin.bmp": scroll_skin().bmp24(),
        "update.ico": icon_file(),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
