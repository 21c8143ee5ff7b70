"""The remote scenarios' own judgement, without Wine: how a stand-in's log is
read against the key maps, and what a held key may give."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import agent_remote  # noqa: E402
import tv_keymaps  # noqa: E402
import tvlog  # noqa: E402


def run_of(*lines):
    """A stand-in's run from log lines after its start line."""
    return tvlog.parse('start powervcr 7\r\n' + ''.join(line + '\r\n' for line in lines))[0]


def events(role, codes, country81):
    want, bounds = [], []
    for code in codes:
        want += tv_keymaps.action(role, code, country81)
        bounds.append((code, len(want)))
    return want, bounds


class KeyMapTest(unittest.TestCase):
    def test_a_chord_names_the_modifiers_down_at_each_key(self):
        self.assertEqual(tv_keymaps.action('powervcr', 0, True), [
            ('down', 0x12, None, ('alt',)), ('down', 0x11, None, ('alt', 'ctrl')),
            ('down', 0x7B, None, ('alt', 'ctrl')), ('up', 0x7B, None, ('alt', 'ctrl')),
            ('up', 0x11, None, ('alt',)), ('up', 0x12, None, ())])

    def test_keys_without_a_row_do_nothing_and_the_dispatchers_keys_are_roviver_only(self):
        for role in ('powervcr', 'honestech', 'windvr'):
            for code in (17, 25, 11, 18, 21):
                self.assertEqual(tv_keymaps.action(role, code, False), [], (role, code))
        self.assertEqual(tv_keymaps.action('windvr', 23, True), [])
        self.assertEqual(tv_keymaps.action('roviver', 21, True), [('msg', (0xBD0, 5001), 0, ())])


class ReceivedTest(unittest.TestCase):
    # PowerVCR with country 1: key 13 posts S (translated to 's' by the
    # stand-in), key 20 types Ctrl+M, key 22 posts a carriage return.
    LOG = ['10 main 0x6 0x1 0x0 WM_ACTIVATE',
           '20 main 0x100 0x53 0x0 WM_KEYDOWN',
           '20 main 0x102 0x73 0x0 WM_CHAR',
           '30 main 0x100 0x11 0x1000001 WM_KEYDOWN ctrl',
           '30 main 0x100 0x4d 0x1000001 WM_KEYDOWN ctrl',
           '30 main 0x102 0xd 0x1000001 WM_CHAR ctrl',
           '30 main 0x101 0x4d 0xc1000001 WM_KEYUP ctrl',
           '30 main 0x101 0x11 0xc1000001 WM_KEYUP',
           '40 main 0x102 0xd 0x1c0001 WM_CHAR']

    def test_translations_are_left_out_and_the_rest_matches_the_key_map(self):
        got = agent_remote.received(run_of(*self.LOG))
        self.assertEqual([i for i, _ in got], [1, 3, 4, 6, 7, 8])
        want, bounds = events('powervcr', (13, 17, 20, 22), False)
        agent_remote.check_received('powervcr', got, want, bounds)

    def test_a_difference_names_its_key(self):
        got = agent_remote.received(run_of(*self.LOG))
        # With country 81 key 14 is Ctrl+S: the log has Ctrl+M there.
        want, bounds = events('powervcr', (13, 14, 22), True)
        with self.assertRaisesRegex(AssertionError, r'event 2 \(key 14\) differs'):
            agent_remote.check_received('powervcr', got, want, bounds)

    def test_typed_posted_and_stuck_modifiers_are_told_apart(self):
        typed = run_of('1 main 0x100 0x53 0x1000001 WM_KEYDOWN ctrl').messages[0]
        posted = run_of('1 main 0x100 0x53 0x0 WM_KEYDOWN ctrl').messages[0]
        self.assertTrue(agent_remote.matches(('down', 0x53, None, ('ctrl',)), typed))
        self.assertFalse(agent_remote.matches(('down', 0x53, None, ('ctrl',)), posted))
        self.assertFalse(agent_remote.matches(('key', 0x53, 0, ()), posted), 'Ctrl still down')
        self.assertFalse(agent_remote.matches(('up', 0x53, None, ('ctrl',)), typed), 'a key-down is no key-up')


class HeldKeyTest(unittest.TestCase):
    def test_a_steady_hold_acts_on_the_press_and_every_tenth_repeat(self):
        takes = [(1000 + 108 * i, 2) for i in range(24)]
        self.assertEqual(agent_remote.acting_counts(takes, (500, 31)), [3])
        self.assertEqual(agent_remote.acting_counts(takes[:10], (500, 31)), [1])

    def test_a_gap_past_the_repeat_window_is_a_fresh_press_and_one_at_its_edge_either(self):
        # Five takes, a gap, three more: a fresh press acts, repeats 5 to 7 do not.
        late = [(108 * i, 2) for i in range(5)] + [(432 + 400 + 108 * i, 2) for i in range(3)]
        self.assertEqual(agent_remote.acting_counts(late), [2])
        edge = [(108 * i, 2) for i in range(5)] + [(432 + 250 + 108 * i, 2) for i in range(3)]
        self.assertEqual(agent_remote.acting_counts(edge), [1, 2])
        # The same key just before: the hold goes on repeating it.
        self.assertEqual(agent_remote.acting_counts([(100 + 108 * i, 2) for i in range(10)], (0, 2)), [1])
        self.assertEqual(agent_remote.acting_counts([(100 + 108 * i, 2) for i in range(10)], (0, 3)), [1])


if __name__ == '__main__':
    unittest.main()
