"""Pictures of the Wine desktop for the agent's scenarios: screenshots read
as RGB pixels, icons read from the program's .ico files, and an icon looked
for on the screen the way Wine draws it.

Wine draws an icon at another size than its image's by sampling pixels, so an
icon is looked for as each of its possible renderings at the size wanted: the
image of that size when the file has one, each nearest-pixel sampling of a
larger image whose size is a multiple of it, and the larger image averaged
down. A rendering is composited on the backdrop (the commonest colour around)
and compared pixel by pixel; it matches where the mean difference per channel
is within a tolerance.
"""
import collections
import os
import shutil
import struct
import subprocess

# Mean difference per colour channel (0..255) within which an icon matches.
MATCH_TOLERANCE = 6.0


def convert_program():
    """ImageMagick's convert, from the same installation as `import`, which
    takes the screenshots."""
    grab = shutil.which('import')
    if grab:
        beside = os.path.join(os.path.dirname(os.path.realpath(grab)), 'convert')
        if os.access(beside, os.X_OK):
            return beside
    raise RuntimeError('ImageMagick\'s convert was not found beside import (%s)' % grab)


class Picture:
    """An RGB picture: width, height and 3 bytes a pixel, rows top down."""

    def __init__(self, width, height, rgb):
        if len(rgb) != width * height * 3:
            raise ValueError('%dx%d picture with %d bytes' % (width, height, len(rgb)))
        self.width = width
        self.height = height
        self.rgb = rgb

    @classmethod
    def load(cls, path):
        """Any picture file ImageMagick reads (a PNG screenshot)."""
        out = subprocess.run([convert_program(), path, '-depth', '8', 'ppm:-'], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, check=True, timeout=60).stdout
        return cls.from_ppm(out)

    @classmethod
    def from_ppm(cls, data):
        """A binary PPM (P6) with 8-bit channels."""
        fields, at = [], 0
        while len(fields) < 4:
            while data[at:at + 1].isspace():
                at += 1
            if data[at:at + 1] == b'#':
                at = data.index(b'\n', at) + 1
                continue
            end = at
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[at:end])
            at = end
        if fields[0] != b'P6' or int(fields[3]) != 255:
            raise ValueError('not an 8-bit binary PPM: %r' % fields)
        width, height = int(fields[1]), int(fields[2])
        return cls(width, height, data[at + 1:at + 1 + width * height * 3])

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.rgb[i:i + 3])

    def row(self, x, y, count):
        i = 3 * (y * self.width + x)
        return self.rgb[i:i + 3 * count]

    def commonest_colour(self, box):
        left, top, right, bottom = self.clip(box)
        counts = collections.Counter()
        for y in range(top, bottom):
            row = self.row(left, y, right - left)
            counts.update(row[i:i + 3] for i in range(0, len(row), 3))
        return tuple(counts.most_common(1)[0][0])

    def clip(self, box):
        left, top, right, bottom = box
        return max(0, left), max(0, top), min(self.width, right), min(self.height, bottom)


def ico_images(path):
    """{size: rows of (r, g, b, a)} of the 32-bit square images in an .ico."""
    with open(path, 'rb') as f:
        data = f.read()
    reserved, kind, count = struct.unpack_from('<HHH', data, 0)
    if reserved != 0 or kind != 1:
        raise ValueError('%s: not an icon file' % path)
    images = {}
    for n in range(count):
        width, height, _, _, _, bits, _, offset = struct.unpack_from('<BBBBHHII', data, 6 + 16 * n)
        width, height = width or 256, height or 256
        header_size, _, _, _, dib_bits = struct.unpack_from('<IiiHH', data, offset)
        if dib_bits != 32 or width != height:
            continue
        pixels = data[offset + header_size:offset + header_size + width * height * 4]
        rows = []
        for y in range(height):
            line = pixels[(height - 1 - y) * width * 4:(height - y) * width * 4]  # bottom-up BGRA
            rows.append([(line[i + 2], line[i + 1], line[i], line[i + 3]) for i in range(0, len(line), 4)])
        images[width] = rows
    if not images:
        raise ValueError('%s: no 32-bit square image' % path)
    return images


def renderings(images, size):
    """The ways an icon of `images` may look when drawn `size` pixels wide."""
    out = []
    if size in images:
        out.append(images[size])
    for big, rows in sorted(images.items()):
        if big <= size or big % size:
            continue
        k = big // size
        for oy in range(k):
            for ox in range(k):
                out.append([[rows[y * k + oy][x * k + ox] for x in range(size)] for y in range(size)])
        averaged = []
        for y in range(size):
            line = []
            for x in range(size):
                block = [rows[y * k + dy][x * k + dx] for dy in range(k) for dx in range(k)]
                alpha = sum(p[3] for p in block)
                if alpha == 0:
                    line.append((0, 0, 0, 0))
                else:
                    line.append(tuple(sum(p[c] * p[3] for p in block) // alpha for c in range(3))
                                + (alpha // len(block),))
            averaged.append(line)
        out.append(averaged)
    if not out:
        raise ValueError('no image of the icon can be drawn %d pixels wide' % size)
    return out


def _composited(rendering, backdrop):
    rows = []
    for line in rendering:
        row = bytearray()
        for r, g, b, a in line:
            for c, bc in zip((r, g, b), backdrop):
                row.append((c * a + bc * (255 - a) + 127) // 255)
        rows.append(bytes(row))
    return rows


def find_icon(picture, images, size, box, tolerance=MATCH_TOLERANCE):
    """Where the icon drawn `size` pixels wide shows in `box` (left, top,
    right, bottom; right and bottom exclusive) of the picture: (x, y, mean
    difference) of the best place within the tolerance, or None."""
    left, top, right, bottom = picture.clip(box)
    backdrop = picture.commonest_colour((left, top, right, bottom))
    limit = tolerance * size * size * 3
    best = None
    for rendering in renderings(images, size):
        expected = _composited(rendering, backdrop)
        for y0 in range(top, bottom - size + 1):
            for x0 in range(left, right - size + 1):
                err = 0
                for dy, want in enumerate(expected):
                    got = picture.row(x0, y0 + dy, size)
                    err += sum(abs(a - b) for a, b in zip(want, got))
                    if err > limit:
                        break
                if err <= limit and (best is None or err < best[2]):
                    best = (x0, y0, err)
                    limit = err
    if best is None:
        return None
    return best[0], best[1], best[2] / float(size * size * 3)
