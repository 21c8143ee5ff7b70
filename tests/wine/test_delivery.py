"""The reliability scenarios' account of what RoviverUVA should have got
for the keys the agent took: keys matched to commands in order, repeats
thinned to counts 10, 20 ..., gaps at the repeat window's edge read either
way, and commands too many or too few caught."""
import unittest

from delivery import ROVIVER_COMMANDS, check_deliveries


def held(key, start, count, every=108):
    """`count` keys taken `every` ms apart, from `start`."""
    return [(start + i * every, key) for i in range(count)]


def commands(*keys):
    return [(ROVIVER_COMMANDS[k], 0) for k in keys]


class Deliveries(unittest.TestCase):
    def test_presses_and_holds(self):
        taken = [(0, 5), (400, 6), (800, 6)] + held(7, 1200, 23)
        # A fresh 6 after 400 ms; 7 held: the press and repeats 10 and 20.
        self.assertEqual(check_deliveries(taken, commands(5, 6, 6, 7, 7, 7)), 20)
        with self.assertRaises(AssertionError):
            check_deliveries(taken, commands(5, 6, 6, 7, 7))  # repeat 20 missing
        with self.assertRaises(AssertionError):
            check_deliveries(taken, commands(5, 6, 6, 7, 7, 7, 7))  # one too many
        with self.assertRaises(AssertionError):
            check_deliveries(taken, commands(5, 6, 7, 7, 7))  # the second 6 missing
        with self.assertRaises(AssertionError):
            check_deliveries(taken, commands(5, 6, 6, 8, 7, 7))  # another key's command

    def test_a_lost_code_in_a_hold(self):
        # A code lost in the middle of a hold leaves a gap of two repeats
        # (216 ms): still a repeat. Two lost (324 ms): a fresh press again.
        taken = held(3, 0, 5) + held(3, 648, 3) + held(3, 1188, 2)
        self.assertEqual(check_deliveries(taken, commands(3, 3)), 8)
        with self.assertRaises(AssertionError):
            check_deliveries(taken, commands(3))
        with self.assertRaises(AssertionError):
            check_deliveries(taken, commands(3, 3, 3))

    def test_the_window_edge_reads_either_way(self):
        for gap in (240, 260):
            taken = [(0, 9), (gap, 9)]
            self.assertEqual(check_deliveries(taken, commands(9, 9)), 0, gap)
            self.assertEqual(check_deliveries(taken, commands(9)), 1, gap)
        # Well inside the window a repeat is thinned out; well outside it is not.
        with self.assertRaises(AssertionError):
            check_deliveries([(0, 9), (200, 9)], commands(9, 9))
        with self.assertRaises(AssertionError):
            check_deliveries([(0, 9), (300, 9)], commands(9))

    def test_a_key_the_remote_never_sent(self):
        with self.assertRaises(AssertionError):
            check_deliveries([(0, 18)], [])


if __name__ == '__main__':
    unittest.main()
