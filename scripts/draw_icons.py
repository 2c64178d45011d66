#!/usr/bin/env python3
"""Draws Velmora's icons into res/icons/*.ico (16x16 and 32x32, 32-bit with
alpha). Run it again after changing a drawing; the .ico files it writes are
kept in the tree so that a build needs no Python.

  idle.ico        the window and tray icon while no stream runs: a grey
                  transmitter dot with faint waves
  streaming.ico   the same while a stream runs: red dot, orange waves
  stream_up.ico   arrow of the "move stream up" button
  stream_down.ico arrow of the "move stream down" button
"""
import math
import os
import struct
import sys

SIZES = (16, 32)
SUPERSAMPLE = 4


def disc(cx, cy, r, colour):
    def shape(x, y):
        return colour if (x - cx) ** 2 + (y - cy) ** 2 <= r * r else None
    return shape


def arc(cx, cy, r_in, r_out, half_angle_deg, facing_right, colour):
    """A ring segment around (cx, cy), opening towards the right or left."""
    limit = math.radians(half_angle_deg)

    def shape(x, y):
        dx, dy = x - cx, y - cy
        d = math.hypot(dx, dy)
        if not r_in <= d <= r_out:
            return None
        if not facing_right:
            dx = -dx
        return colour if dx > 0 and abs(math.atan2(dy, dx)) <= limit else None
    return shape


def triangle(points, colour):
    (ax, ay), (bx, by), (cx, cy) = points

    def side(px, py, qx, qy, x, y):
        return (qx - px) * (y - py) - (qy - py) * (x - px)

    def shape(x, y):
        s1 = side(ax, ay, bx, by, x, y)
        s2 = side(bx, by, cx, cy, x, y)
        s3 = side(cx, cy, ax, ay, x, y)
        inside = (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)
        return colour if inside else None
    return shape


def render(size, shapes):
    """Rows of (r, g, b, a) pixels, top row first; the shapes are drawn on a
    unit square (0..1) in order, later ones over earlier ones."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(n):
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    y = (py + (sy + 0.5) / n) / size
                    hit = None
                    for shape in shapes:
                        c = shape(x, y)
                        if c is not None:
                            hit = c
                    if hit is not None:
                        acc[0] += hit[0]
                        acc[1] += hit[1]
                        acc[2] += hit[2]
                        acc[3] += 1
            cover = acc[3]
            if cover == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(acc[0] / cover), round(acc[1] / cover), round(acc[2] / cover),
                            round(255 * cover / (n * n))))
        rows.append(row)
    return rows


def ico_image(rows):
    size = len(rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for row in reversed(rows):  # bottom-up
        for r, g, b, a in row:
            colour += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(colour) + bytes(mask)


def write_ico(path, images):
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b''
    for size, image in images:
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
        data += image
    with open(path, 'wb') as f:
        f.write(out + data)


def transmitter(dot, waves):
    cx, cy = 0.5, 0.5
    return [
        arc(cx, cy, 0.40, 0.48, 50, True, waves),
        arc(cx, cy, 0.40, 0.48, 50, False, waves),
        arc(cx, cy, 0.24, 0.32, 50, True, waves),
        arc(cx, cy, 0.24, 0.32, 50, False, waves),
        disc(cx, cy, 0.14, dot),
    ]


ICONS = {
    'idle.ico': transmitter((112, 112, 112), (160, 160, 160)),
    'streaming.ico': transmitter((220, 40, 30), (240, 130, 20)),
    'stream_up.ico': [triangle(((0.5, 0.2), (0.12, 0.78), (0.88, 0.78)), (40, 40, 40))],
    'stream_down.ico': [triangle(((0.5, 0.8), (0.12, 0.22), (0.88, 0.22)), (40, 40, 40))],
}


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, 'res', 'icons')
    os.makedirs(out_dir, exist_ok=True)
    for name, shapes in ICONS.items():
        write_ico(os.path.join(out_dir, name), [(s, ico_image(render(s, shapes))) for s in SIZES])
        print(os.path.join(out_dir, name))


if __name__ == '__main__':
    main()
