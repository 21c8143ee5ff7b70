"""The benchmark's parts that need no Wine: log parsing and pairing,
percentiles, /proc and objdump parsing, the PNG writer."""
import os
import struct
import sys
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, '..', 'tools', 'tvstub'))

import bench_png  # noqa: E402
import bench_stats as stats  # noqa: E402
import tvlog  # noqa: E402

# The box's clock starts at 5 s on the performance counter, the stand-in's at 5.2 s.
BOX_LOG = '\n'.join([
    '# 0 device {E81574F3-89B4-5C03-BF84-77F0C05453DA}',
    '# 0 clock 5000000',
    '# 1 load "USB 2800 Video"',
    '300 Set 1005 00000901 00000000',
    '# 355 command: after 120 press 7 (due at 475)',
    '# 490 due 475: press 7 (applied at 490)',
    '490 Get 1008 00000007 00000000',
    '# 600 command refused: after soon press 8: the delay is not a number of ms up to 86400000',
    '# 700 command: after 100 press 8 (due at 800)',
    '# 840 due 800: press 8 (applied at 840)',
    '# 1000 command: after 90 press 3 (due at 1090)',
    '# 1120 due 1090: press 3 (applied at 1120)',
    '# 1300 due 1280: press 12 (applied at 1300)',
    '',
])
STUB_LOG = '\r\n'.join([
    'start roviver 40 5200000',
    '10 main 0x1 0x0 0x0 WM_CREATE',
    '291 main 0xbd0 0x2717 0x0 WM_USER+2000',   # key 7, 16 ms after it was due
    '350 main 0xbd0 0x2713 0x0 WM_USER+2000',   # a 3 before the 3 was pressed: no answer to it
    '642 main 0xbd0 0x2718 0x0 WM_USER+2000',   # key 8
    '900 main 0xbd0 0x2713 0x0 WM_USER+2000',   # key 3
    '901 child 0xbd0 0x271c 0x0 WM_USER+2000',  # the child window's: not the application's
    '',
])


def base(code):
    return 10000 + code


class LatencyTest(unittest.TestCase):
    def test_presses_pair_with_their_messages_on_one_clock(self):
        presses = stats.box_presses(BOX_LOG)
        self.assertEqual([p.code for p in presses], [7, 8, 3, 12])
        # Whole milliseconds read as their middle; a due time is the start of one.
        self.assertEqual(presses[0], stats.Press(7, 5475000, 5490500))
        run = tvlog.parse(STUB_LOG)[0]
        delivered = stats.deliveries(run, 0xbd0)
        self.assertEqual(delivered[0], (5491500, base(7)))
        found, lost = stats.match(presses, delivered, base)
        self.assertEqual([(l.code, l.delivered_us - l.due_us) for l in found], [(7, 16500), (8, 42500), (3, 10500)])
        self.assertEqual([p.code for p in lost], [12])
        # The same message cannot answer two presses of one key.
        found, lost = stats.match(presses[:1] * 2, delivered, base)
        self.assertEqual((len(found), len(lost)), (1, 1))

    def test_an_answer_within_the_due_millisecond_is_not_taken_for_an_early_one(self):
        # The stand-in's milliseconds start 0.7 ms before the box's: a message
        # 0.2 ms after the due time is logged in the millisecond before it.
        box = '# 0 clock 5000000\n# 100 due 100: press 4 (applied at 100)\n'
        stub = 'start roviver 9 4999300\n100 main 0xbd0 0x2714 0x0 WM_USER+2000\n'
        found, lost = stats.match(stats.box_presses(box), stats.deliveries(tvlog.parse(stub)[0], 0xbd0), base)
        self.assertEqual((len(found), lost), (1, []))
        self.assertLessEqual(abs(found[0].delivered_us - found[0].due_us - 200), stats.HALF_MS_US)

    def test_logs_without_a_clock_origin_are_refused(self):
        with self.assertRaises(ValueError):
            stats.box_presses(BOX_LOG.replace('# 0 clock 5000000\n', ''))
        old = tvlog.parse(STUB_LOG.replace(' 5200000', ''))[0]
        with self.assertRaises(ValueError):
            stats.deliveries(old, 0xbd0)

    def test_percentiles_interpolate_between_ranks(self):
        values = [4, 1, 3, 2]
        self.assertEqual([stats.percentile(values, p) for p in (0, 50, 90, 100)], [1, 2.5, 3.7, 4])
        self.assertEqual(stats.percentile([9], 99), 9)
        self.assertEqual(stats.summary(list(range(101))), {'median': 50, 'p90': 90, 'p99': 99, 'max': 100})
        self.assertEqual(stats.uniform_floor(70), {'median': 35, 'p90': 63, 'p99': 69.3, 'max': 70})
        for bad in (([], 50), ([1], -1), ([1], 101)):
            with self.assertRaises(ValueError):
                stats.percentile(*bad)


class SystemTest(unittest.TestCase):
    def test_cpu_ticks_after_a_name_with_spaces_and_parentheses(self):
        stat = '4242 (C:\\a (b) c.exe) S 1 4242 4242 0 -1 4194560 900 0 0 0 1234 56 7 8 20 0 3 0 99 0 0'
        self.assertEqual(stats.stat_ticks(stat), 1234 + 56)

    def test_resident_memory_and_its_absence(self):
        status = 'Name:\ttunerpad.exe\nVmPeak:\t  30000 kB\nVmRSS:\t   21720 kB\nThreads:\t3\n'
        self.assertEqual(stats.status_kb(status), 21720)
        self.assertIsNone(stats.status_kb('Name:\tzombie\nState:\tZ (zombie)\n'))

    def test_imported_dlls_in_objdump_order(self):
        dump = ('The Import Tables (interpreted .idata section contents)\n'
                ' vma:            Hint    Time      Forward  DLL       First\n'
                '\tDLL Name: ADVAPI32.dll\n\tvma:  Hint/Ord Member-Name Bound-To\n\t1f0a0\t  536  RegCloseKey\n\n'
                '\tDLL Name: KERNEL32.dll\n\tvma:  Hint/Ord Member-Name Bound-To\n')
        self.assertEqual(stats.imported_dlls(dump), ['ADVAPI32.dll', 'KERNEL32.dll'])
        self.assertEqual(stats.dll_names(['COMCTL32.DLL', 'msvcrt.dll', 'x.dll.mui']), ['COMCTL32', 'msvcrt', 'x.dll.mui'])

    def test_markdown_figures(self):
        self.assertEqual(stats.table(['', 'a'], [['x', 1]]), '|  | a |\n|---|---|\n| x | 1 |')
        self.assertEqual(stats.percent(600, 60), '1.00 %')
        self.assertEqual((stats.ratio(3, 2), stats.ratio(1, 0)), ('1.5×', 'n/a'))


def read_png(data):
    """(width, height, rows of RGB bytes), checking every chunk's CRC."""
    assert data[:8] == b'\x89PNG\r\n\x1a\n'
    at, chunks = 8, {}
    while at < len(data):
        length, = struct.unpack('>I', data[at:at + 4])
        body = data[at + 4:at + 8 + length]
        crc, = struct.unpack('>I', data[at + 8 + length:at + 12 + length])
        assert zlib.crc32(body) & 0xFFFFFFFF == crc, body[:4]
        chunks[body[:4]] = chunks.get(body[:4], b'') + body[4:]
        at += 12 + length
    width, height, depth, colour = struct.unpack('>IIBB', chunks[b'IHDR'][:10])
    assert (depth, colour) == (8, 2) and b'IEND' in chunks
    raw = zlib.decompress(chunks[b'IDAT'])
    stride = 1 + width * 3
    assert len(raw) == height * stride
    return width, height, [raw[y * stride + 1:(y + 1) * stride] for y in range(height)]


class PngTest(unittest.TestCase):
    def test_canvas_round_trips_through_the_file_format(self):
        c = bench_png.Canvas(7, 3)
        c.rect(2, 1, 4, 3, bench_png.FLOOR)
        c.rect(-5, -5, 1, 1, bench_png.BLACK)  # clipped, not wrapped
        width, height, rows = read_png(c.png())
        self.assertEqual((width, height), (7, 3))
        self.assertEqual(rows[0][:3], bytes(bench_png.BLACK))
        self.assertEqual(rows[2][6:12], bytes(bench_png.FLOOR) * 2)
        self.assertEqual(rows[0][3:], bytes(bench_png.WHITE) * 6)

    def test_histogram_marks_the_poll_period(self):
        values = [float(v % 70) for v in range(200)] + [250.0]
        width, height, rows = read_png(bench_png.histogram(values, 70, [('median 35', 35)], 'latency (ms)'))
        self.assertEqual((width, height), (800, 420))
        # The plot spans 0..260 ms over 700 pixels from x = 70: 70 ms at x = 258.
        floor_x = 70 + round(70 * 700 / 260.0)
        self.assertEqual(rows[300][floor_x * 3:floor_x * 3 + 3], bytes(bench_png.FLOOR))
        self.assertIn(bytes(bench_png.BAR), rows[340])

    def test_bins_keep_outliers_in_the_last_one(self):
        self.assertEqual(bench_png.bins([0, 4.9, 5, 99, 1000, -1], 5, 20), [3, 1, 0, 2])
        with self.assertRaises(ValueError):
            bench_png.Canvas(10, 10).text(0, 0, 'µs')


if __name__ == '__main__':
    unittest.main()
