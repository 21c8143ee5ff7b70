#!/usr/bin/env python3
"""Writes a one-image, 16-colour (4 bits per pixel) .ico file.

ImageMagick 6 writes such icons without their transparency mask, so this
takes the pixels from it as raw bytes and lays out the icon itself:
ICONDIR, one ICONDIRENTRY, then a BITMAPINFOHEADER (height doubled), the
16-entry palette, the 4-bit colour rows and the 1-bit AND mask rows, both
bottom-up and padded to 32 bits.

usage: ico4.py SIZE PALETTE.rgb PIXELS.rgb ALPHA.gray OUT.ico
  PALETTE.rgb  16 colours, 3 bytes each
  PIXELS.rgb   SIZE*SIZE pixels, 3 bytes each, every one a palette colour
  ALPHA.gray   SIZE*SIZE bytes; below 128 is transparent
"""
import struct
import sys


def row_bytes(bits_per_row):
    return (bits_per_row + 31) // 32 * 4


def build(size, palette, pixels, alpha):
    colours = [palette[i:i + 3] for i in range(0, len(palette), 3)]
    if len(colours) != 16:
        raise ValueError(f'palette has {len(colours)} colours, not 16')
    if len(pixels) != size * size * 3 or len(alpha) != size * size:
        raise ValueError('pixel data does not match the size')
    index = {c: i for i, c in reversed(list(enumerate(colours)))}

    xor_stride, and_stride = row_bytes(size * 4), row_bytes(size)
    xor_rows, and_rows = [], []
    for y in reversed(range(size)):  # bottom-up
        xor_row, and_row = bytearray(xor_stride), bytearray(and_stride)
        for x in range(size):
            p = y * size + x
            if alpha[p] < 128:
                and_row[x // 8] |= 0x80 >> (x % 8)
                i = 0  # colour index 0 under a set mask bit leaves the screen as it is
            else:
                c = pixels[3 * p:3 * p + 3]
                if c not in index:
                    raise ValueError(f'pixel {x},{y} colour #{c.hex()} is not in the palette')
                i = index[c]
            xor_row[x // 2] |= i << (4 if x % 2 == 0 else 0)
        xor_rows.append(bytes(xor_row))
        and_rows.append(bytes(and_row))

    rgbquads = b''.join(bytes((c[2], c[1], c[0], 0)) for c in colours)
    bitmap = b''.join(xor_rows) + b''.join(and_rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 4, 0, len(bitmap), 0, 0, 16, 0)
    image = header + rgbquads + bitmap
    icondir = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', size % 256, size % 256, 16, 0, 1, 4, len(image), 6 + 16)
    return icondir + entry + image


def main(argv):
    if len(argv) != 6:
        sys.exit(__doc__)
    size = int(argv[1])
    data = [open(p, 'rb').read() for p in argv[2:5]]
    with open(argv[5], 'wb') as f:
        f.write(build(size, *data))


if __name__ == '__main__':
    main(sys.argv)
