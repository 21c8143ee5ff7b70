"""The latency histogram as a PNG, drawn without a plotting library: an RGB
canvas, a 5x7 pixel font for the labels, and the PNG file format (zlib and
CRC-32 from the standard library).
"""
import struct
import zlib

WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
GREY = (150, 150, 150)
LIGHT = (225, 225, 225)
BAR = (70, 110, 180)
FLOOR = (200, 40, 40)
MARK = (30, 140, 60)

# 5x7 glyphs, one row per byte, bit 4 the leftmost column.
GLYPHS = {
    '0': (0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E), '1': (0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E),
    '2': (0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F), '3': (0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E),
    '4': (0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02), '5': (0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E),
    '6': (0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E), '7': (0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08),
    '8': (0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E), '9': (0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C),
    'a': (0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F), 'b': (0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1E),
    'c': (0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E), 'd': (0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F),
    'e': (0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E), 'f': (0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08),
    'g': (0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x0E), 'h': (0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11),
    'i': (0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E), 'j': (0x02, 0x00, 0x06, 0x02, 0x02, 0x12, 0x0C),
    'k': (0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12), 'l': (0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E),
    'm': (0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11), 'n': (0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11),
    'o': (0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E), 'p': (0x00, 0x00, 0x1E, 0x11, 0x1E, 0x10, 0x10),
    'q': (0x00, 0x00, 0x0D, 0x13, 0x0F, 0x01, 0x01), 'r': (0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10),
    's': (0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E), 't': (0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06),
    'u': (0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D), 'v': (0x00, 0x00, 0x11, 0x11, 0x11, 0x0A, 0x04),
    'w': (0x00, 0x00, 0x11, 0x11, 0x15, 0x15, 0x0A), 'x': (0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11),
    'y': (0x00, 0x00, 0x11, 0x11, 0x0F, 0x01, 0x0E), 'z': (0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F),
    ' ': (0,) * 7, '.': (0, 0, 0, 0, 0, 0x0C, 0x0C), ',': (0, 0, 0, 0, 0x0C, 0x04, 0x08),
    ':': (0, 0x0C, 0x0C, 0, 0x0C, 0x0C, 0), '-': (0, 0, 0, 0x1F, 0, 0, 0),
    '%': (0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03), '(': (0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02),
    ')': (0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08), '/': (0, 0x01, 0x02, 0x04, 0x08, 0x10, 0),
    '=': (0, 0, 0x1F, 0, 0x1F, 0, 0),
}
GLYPH_W, GLYPH_H = 5, 7


class Canvas:
    def __init__(self, width, height, background=WHITE):
        self.width, self.height = width, height
        self.pixels = bytearray(bytes(background) * (width * height))

    def rect(self, x0, y0, x1, y1, colour):
        """Fills [x0, x1) x [y0, y1), clipped to the canvas."""
        x0, x1 = max(0, min(x0, x1)), min(self.width, max(x0, x1))
        y0, y1 = max(0, min(y0, y1)), min(self.height, max(y0, y1))
        row = bytes(colour) * (x1 - x0)
        for y in range(y0, y1):
            at = (y * self.width + x0) * 3
            self.pixels[at:at + len(row)] = row

    def pixel(self, x, y):
        at = (y * self.width + x) * 3
        return tuple(self.pixels[at:at + 3])

    def dashed_vline(self, x, y0, y1, colour, dash=6):
        for y in range(min(y0, y1), max(y0, y1), dash * 2):
            self.rect(x, y, x + 2, min(y + dash, max(y0, y1)), colour)

    def text(self, x, y, text, colour=BLACK, scale=2):
        """Draws lower-case text, digits and a few signs; returns its width."""
        for i, ch in enumerate(text.lower()):
            if ch not in GLYPHS:
                raise ValueError('no glyph for %r' % ch)
            for row, bits in enumerate(GLYPHS[ch]):
                for col in range(GLYPH_W):
                    if bits & (1 << (GLYPH_W - 1 - col)):
                        left = x + (i * (GLYPH_W + 1) + col) * scale
                        self.rect(left, y + row * scale, left + scale, y + (row + 1) * scale, colour)
        return text_width(text, scale)

    def png(self):
        def chunk(kind, data):
            body = kind + data
            return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xFFFFFFFF)
        stride = self.width * 3
        # Filter type 0 (none) before every row.
        raw = b''.join(b'\0' + bytes(self.pixels[y * stride:(y + 1) * stride]) for y in range(self.height))
        header = struct.pack('>IIBBBBB', self.width, self.height, 8, 2, 0, 0, 0)  # 8-bit RGB
        return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(raw, 9))
                + chunk(b'IEND', b''))


def text_width(text, scale=2):
    return len(text) * (GLYPH_W + 1) * scale


def bins(values, width, top):
    """Counts per bin of `width` from 0 to `top`; values beyond it go to the last bin."""
    counts = [0] * int(-(-top // width))
    for v in values:
        counts[min(max(int(v // width), 0), len(counts) - 1)] += 1
    return counts


def histogram(values, floor_ms, marks, title, bin_ms=5, shift_ms=0.0, size=(800, 420)):
    """A histogram of `values` (ms) with the poll period `floor_ms` and the
    labelled `marks` [(label, ms)] drawn as lines, and in grey the level of
    latencies spread evenly over one poll period from `shift_ms` on (the
    processing); returns the PNG bytes."""
    width, height = size
    left, right, top, bottom = 70, 30, 60, 60
    plot_w, plot_h = width - left - right, height - top - bottom
    span = max(100, int(-(-max(values + [floor_ms]) // 20) * 20))
    counts = bins(values, bin_ms, span)
    even = len(values) * bin_ms / float(floor_ms)
    peak = max(counts + [int(even + 1)])
    c = Canvas(width, height)
    c.text(left, 16, title)

    def x_of(ms):
        return left + int(round(ms * plot_w / float(span)))

    def y_of(count):
        return top + plot_h - int(round(count * plot_h / float(peak)))
    for tick in range(0, span + 1, 20):
        c.rect(x_of(tick), top, x_of(tick) + 1, top + plot_h, LIGHT)
        number = str(tick)
        c.text(x_of(tick) - text_width(number) // 2, top + plot_h + 10, number)
    c.text(left + plot_w - text_width('ms'), top + plot_h + 32, 'ms')
    for count in sorted({0, peak // 2, peak}):
        number = str(count)
        c.text(left - 10 - text_width(number), y_of(count) - GLYPH_H, number)
    for i, count in enumerate(counts):
        if count:
            c.rect(x_of(i * bin_ms) + 1, y_of(count), x_of((i + 1) * bin_ms) - 1, top + plot_h, BAR)
    c.rect(left, top + plot_h, left + plot_w, top + plot_h + 2, BLACK)
    c.rect(left - 2, top, left, top + plot_h + 2, BLACK)
    level = int(round(top + plot_h - even * plot_h / float(peak)))
    for x in range(x_of(shift_ms), x_of(shift_ms + floor_ms), 12):
        c.rect(x, level, min(x + 6, x_of(shift_ms + floor_ms)), level + 2, GREY)
    c.rect(x_of(floor_ms), top, x_of(floor_ms) + 2, top + plot_h, FLOOR)
    label(c, x_of(floor_ms) + 6, top + 4, '%g ms: one poll' % floor_ms, FLOOR)
    legend = '- - - even over one poll'
    label(c, left + plot_w - text_width(legend), 36, legend, GREY)
    for n, (text, ms) in enumerate(marks):
        c.dashed_vline(x_of(ms), top + 24, top + plot_h, MARK)
        label(c, x_of(ms) + 6, top + 28 + 18 * n, text, MARK)
    return c.png()


def label(c, x, y, text, colour):
    """Text on a white ground, readable over the bars, kept on the canvas."""
    x = min(x, c.width - text_width(text) - 4)
    c.rect(x - 2, y - 2, x + text_width(text) + 2, y + GLYPH_H * 2 + 2, WHITE)
    c.text(x, y, text, colour)
