"""Reads the message log of tvstub, the stand-in TV application.

Each run of the stand-in appends

    start <role> <pid> [<origin>]
    <ms> <window> <msg> <wParam> <lParam> <name> [ctrl] [shift] [alt]
    ...
    exit

<origin> is the performance counter at the start in microseconds (the
clock boxsim's log gives too) and <ms> counts from it; logs of older
stand-ins have none. `read_runs(path)` gives the runs in order; a line still being written (no
line end yet) is left for the next read.
"""
import collections

Message = collections.namedtuple('Message', 'ms window msg wparam lparam name mods')

WM_DESTROY = 0x0002
WM_CLOSE = 0x0010
WM_KEYDOWN = 0x0100
WM_KEYUP = 0x0101
WM_CHAR = 0x0102
WM_USER = 0x0400


class Run:
    """One run of the stand-in: its role, process id, clock origin (µs, or
    None), messages, and whether it has written its last line."""

    def __init__(self, role, pid, origin_us=None):
        self.role = role
        self.pid = pid
        self.origin_us = origin_us
        self.messages = []
        self.exited = False

    def find(self, msg, wparam=None, lparam=None, window=None, start=0):
        """Index of the first message at or after `start` that matches, or None."""
        for i in range(start, len(self.messages)):
            m = self.messages[i]
            if (m.msg == msg and (wparam is None or m.wparam == wparam)
                    and (lparam is None or m.lparam == lparam) and (window is None or m.window == window)):
                return i
        return None

    def __repr__(self):
        return 'Run(%s pid %d, %d messages%s)' % (self.role, self.pid, len(self.messages),
                                                   ', exited' if self.exited else '')


def parse_line(line):
    fields = line.split()
    return Message(int(fields[0]), fields[1], int(fields[2], 16), int(fields[3], 16), int(fields[4], 16),
                   fields[5], tuple(fields[6:]))


def parse(text):
    """[Run] of a log's complete lines; ValueError on a line out of place."""
    runs = []
    for number, line in enumerate(text.split('\n')[:-1], 1):
        line = line.rstrip('\r')
        fields = line.split()
        if fields[:1] == ['start'] and len(fields) in (3, 4):
            runs.append(Run(fields[1], int(fields[2]), int(fields[3]) if len(fields) == 4 else None))
        elif not runs or runs[-1].exited:
            raise ValueError('line %d outside a run: %r' % (number, line))
        elif line == 'exit':
            runs[-1].exited = True
        elif len(fields) >= 6:
            runs[-1].messages.append(parse_line(line))
        else:
            raise ValueError('line %d: %r' % (number, line))
    return runs


def read_runs(path):
    """[Run] in the log file; [] while it does not exist."""
    try:
        with open(path, encoding='ascii', errors='replace') as f:
            return parse(f.read())
    except FileNotFoundError:
        return []
