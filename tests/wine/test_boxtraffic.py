"""The box-log parser of the reliability scenarios, on logs written by hand
in the box's format: which keys a poll took, which codes it lost and why,
opens and their priming, calls that stray from the protocol, and a log
read while it grows."""
import os
import tempfile
import unittest

from boxtraffic import DEVICE_GONE, GEN_FAILURE, INVALID_ARG, BoxTail, ProtocolError, code_times, receiver_account

OK = 0
IDLE, WAITING = 0x04, 0x00


class Log:
    """Writes box-log lines: each access as the agent makes it."""

    def __init__(self):
        self.lines = []
        self.ms = 0

    def call(self, kind, prop, word, result=OK):
        self.lines.append('%d %s %04X %08X %08X' % (self.ms, kind, prop, word, result))

    def note(self, text):
        self.lines.append('# %d %s' % (self.ms, text))

    def access(self, select, data, word, value=0, select_result=OK, data_result=OK, write=False):
        self.call('Set', select, word, select_result)
        if select_result == OK:
            self.call('Set' if write else 'Get', data, value if data_result == OK or write else 0, data_result)
        if select_result != OK or data_result != OK:
            self.call('Set', select, 0)

    def reg(self, index, value=0, write=False, **results):
        self.access(0x1005, 0x1006, index << 8 | 1, value, write=write, **results)

    def i2c(self, code, **results):
        self.access(0x1007, 0x1008, 0x60 << 16 | 1, code, **results)

    def status(self, word, **results):
        self.reg(8, 0x10)
        self.reg(9, word, **results)

    def idle_poll(self, snapshot=0x05):
        self.ms += 70
        self.status(IDLE)
        self.reg(12, snapshot)

    def key_poll(self, code):
        self.ms += 70
        self.status(WAITING)
        self.i2c(code)
        self.status(IDLE)
        self.reg(12, 0x05)

    def open(self):
        self.ms += 3000
        self.call('Set', 0x100B, 0x60)

    def text(self):
        return '\n'.join(self.lines) + '\n'


def parse(text, chunk=None):
    """The BoxTail of `text`, written to a file in one go or `chunk` bytes
    at a time with an update after each."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, 'box.log')
        tail = BoxTail(path)
        data = text.encode('ascii')
        step = chunk or len(data)
        for at in range(0, len(data), step):
            with open(path, 'ab') as f:
                f.write(data[at:at + step])
            tail.update()
        return tail


def keys(tail):
    return [k.key for k in tail.ticks if k.key is not None]


class Polls(unittest.TestCase):
    def test_keys_taken_and_lost_without_failures(self):
        log = Log()
        log.open()
        log.status(IDLE)  # the priming
        log.idle_poll()
        log.key_poll(0x25)  # folded to its low five bits
        log.key_poll(0xFF)  # the whole handshake, but no code
        # Two codes waiting: the second read shows the receiver still busy
        # and reads the other code too; neither is taken.
        log.ms += 70
        log.status(WAITING)
        log.i2c(7)
        log.status(WAITING)
        log.i2c(8)
        log.reg(12, 0x05)
        # The snapshot button latched on a tick without a remote key.
        log.idle_poll(snapshot=0x25)
        log.reg(12, 0x05, write=True)
        tail = parse(log.text())
        self.assertEqual([k.kind for k in tail.ticks], ['open', 'poll', 'poll', 'poll', 'poll', 'poll'])
        self.assertEqual(keys(tail), [5, 19])
        self.assertEqual(tail.ticks[4].lost, [(7, 'queued'), (8, 'queued')])
        self.assertFalse(any(k.failed or k.gone for k in tail.ticks))
        self.assertEqual([k.ms for k in tail.ticks], [3000, 3070, 3140, 3210, 3280, 3350])


class Failures(unittest.TestCase):
    def test_failed_reads_take_no_key(self):
        log = Log()
        # Register 8 failing is not looked at: the key is taken.
        log.ms += 70
        log.reg(8, select_result=INVALID_ARG)
        log.reg(9, WAITING)
        log.i2c(3)
        log.status(IDLE)
        log.reg(12, 0x05)
        # The status read fails: the receiver is read all the same, and its
        # code is lost.
        log.ms += 70
        log.reg(8)
        log.reg(9, data_result=GEN_FAILURE)
        log.i2c(4)
        log.reg(12, 0x05)
        # The code read fails: it stays in the receiver, no key this tick.
        log.ms += 70
        log.status(WAITING)
        log.i2c(0, data_result=INVALID_ARG)
        log.reg(12, 0, data_result=GEN_FAILURE)
        # The handshake's second status read fails: its receiver read takes
        # no code, the first code is lost.
        log.ms += 70
        log.status(WAITING)
        log.i2c(6)
        log.reg(8)
        log.reg(9, select_result=GEN_FAILURE)
        log.i2c(0xFF)
        log.reg(12, 0x05)
        tail = parse(log.text())
        self.assertEqual(keys(tail), [3])
        self.assertEqual([k.lost for k in tail.ticks], [[], [(4, 'failure')], [], [(6, 'failure')]])
        self.assertEqual([k.failed for k in tail.ticks], [True, True, True, True])
        self.assertFalse(any(k.gone for k in tail.ticks))

    def test_box_gone_and_reopened(self):
        log = Log()
        log.idle_poll()
        # "Gone" on the status read and on the receiver read after it: the
        # poll ends there, without the snapshot check.
        log.ms += 70
        log.reg(8)
        log.reg(9, data_result=DEVICE_GONE)
        log.i2c(0, select_result=DEVICE_GONE)
        # The retry's open; its priming reads the status again after
        # GEN_FAILURE, and after another failure reads the receiver once.
        log.open()
        log.reg(8)
        log.reg(9, data_result=GEN_FAILURE)
        log.status(IDLE)
        log.idle_poll()
        log.ms += 70
        log.reg(8)
        log.reg(9, data_result=DEVICE_GONE)
        log.i2c(0, data_result=DEVICE_GONE)
        log.open()
        log.reg(8)
        log.reg(9, data_result=INVALID_ARG)
        log.i2c(9)
        log.idle_poll()
        tail = parse(log.text())
        self.assertEqual([(k.kind, k.gone) for k in tail.ticks],
                         [('poll', False), ('poll', True), ('open', False), ('poll', False), ('poll', True),
                          ('open', False), ('poll', False)])
        self.assertEqual(tail.ticks[5].lost, [(9, 'prime')])
        self.assertEqual(keys(tail), [])

    def test_gone_only_when_the_box_says_so(self):
        log = Log()
        # GEN_FAILURE on the status and the receiver read fine: no key, not gone.
        log.ms += 70
        log.reg(8)
        log.reg(9, data_result=GEN_FAILURE)
        log.i2c(0xFF)
        log.reg(12, 0x05)
        # "Gone" on the status select is gone, whatever the receiver read gives.
        log.ms += 70
        log.reg(8)
        log.reg(9, select_result=DEVICE_GONE)
        log.i2c(0xFF)
        log.open()
        log.status(IDLE)
        tail = parse(log.text())
        self.assertEqual([(k.kind, k.gone, k.lost) for k in tail.ticks],
                         [('poll', False, []), ('poll', True, []), ('open', False, [])])


class Protocol(unittest.TestCase):
    def assert_stray(self, log, words):
        with self.assertRaises(ProtocolError) as caught:
            parse(log.text())
        self.assertIn(words, str(caught.exception))

    def test_calls_that_stray(self):
        log = Log()
        log.call('Set', 0x1005, 0x0901, GEN_FAILURE)
        log.call('Set', 0x1005, 0x0801)  # not the clearing call
        self.assert_stray(log, 'clearing')

        log = Log()
        log.reg(9, IDLE)  # register 8 is always read first
        log.reg(12, 0x05)
        self.assert_stray(log, 'neither a poll nor an open')

        log = Log()
        log.ms += 70
        log.reg(8)
        log.reg(9, data_result=DEVICE_GONE)
        log.i2c(0, data_result=DEVICE_GONE)
        log.reg(12, 0x05)  # polling on after the box was reported gone
        self.assert_stray(log, 'neither a poll nor an open')

        log = Log()
        log.call('Get', 0x1006, 0)
        self.assert_stray(log, 'not the select')

        log = Log()
        log.call('Set', 0x1005, 0x0902)  # a two-byte access
        self.assert_stray(log, 'one-byte')

        log = Log()
        log.call('Set', 0x1007, 0x00600001)
        log.call('Get', 0x1006, 0)
        self.assert_stray(log, 'data call')


class Growing(unittest.TestCase):
    def test_read_in_pieces_as_in_one_go(self):
        log = Log()
        log.note('device {X}')
        log.note('filter made: 1 live')
        log.open()
        log.status(IDLE)
        for code in (1, 2, 2, 3):
            log.key_poll(code)
            log.idle_poll()
        log.note('filter ended: 0 live')
        whole = parse(log.text())
        for chunk in (1, 7, 50):
            pieces = parse(log.text(), chunk=chunk)
            self.assertEqual(pieces.ticks, whole.ticks, 'read %d bytes at a time' % chunk)
            self.assertEqual(pieces.notes, whole.notes)
        self.assertEqual(keys(whole), [1, 2, 2, 3])
        self.assertEqual(whole.filters_live(), 0)
        self.assertEqual(parse(Log().text()).filters_live(), None)

    def test_a_tick_still_being_written_waits(self):
        log = Log()
        log.idle_poll()
        log.ms += 70
        log.status(WAITING)
        log.i2c(4)
        tail = parse(log.text())
        self.assertEqual(len(tail.ticks), 1)
        self.assertEqual(len(tail.accesses), 6)


class Remote(unittest.TestCase):
    def test_code_times(self):
        notes = [(0, 'command: press 5'),
                 (100, 'command: hold 6 1000'),  # 0, 108 ... 972: 10 codes
                 (1500, 'command: random-failures 0.1 8007001F 1'),  # lets go of nothing
                 (2000, 'command: hold 7 1000'),  # cut at 216 by the next press: 3 codes
                 (2216, 'command: press 8'),
                 (2300, 'bind refused: unplugged'),
                 (2400, 'command: hold 9 100')]  # 1 code
        self.assertEqual(code_times(notes, 108),
                         [0] + [100 + 108 * k for k in range(10)] + [2000, 2108, 2216, 2216, 2400])
        self.assertEqual(code_times([], 108), [])

    def test_receiver_account(self):
        # Five codes into a receiver of three: two dropped, three read.
        notes = [(10 * n, 'command: press %d' % n) for n in range(1, 6)]
        log = Log()
        log.ms = 100
        for code in (1, 2, 3):
            log.key_poll(code)
        log.ms += 70
        log.status(WAITING)
        log.i2c(0, data_result=GEN_FAILURE)  # takes nothing
        log.reg(12, 0x05)
        log.key_poll(0xFF)  # nothing waiting
        tail = parse(log.text())
        self.assertEqual(receiver_account(notes, tail.accesses, 108, 3), (5, 2, 0))
        self.assertEqual(receiver_account(notes[:1], [], 108, 3), (1, 0, 0))
        # A code read before any was sent cannot be explained.
        early = Log()
        early.ms = -65
        early.key_poll(4)
        self.assertEqual(receiver_account(notes, parse(early.text()).accesses, 108, 3), (5, 2, 1))


if __name__ == '__main__':
    unittest.main()
