#!/usr/bin/env python3
"""The capture-box simulator under Wine: the system device enumerator lists
it, COM binds it, and boxprobe reads keys from it the way the agent does.

usage: test_boxsim.py --cache DIR --work DIR --program boxsim=DLL
                      --program boxprobe=EXE [SCENARIO...]
"""
import os
import re
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
BOXSIM_DIR = os.path.join(HERE, '..', '..', 'tools', 'boxsim')
sys.path.insert(0, HERE)
sys.path.insert(0, BOXSIM_DIR)

import boxlog  # noqa: E402
import register  # noqa: E402
from winelib import check, main, scenario, wait_until  # noqa: E402

TOOLS_DIR = r'C:\tests'
MODEL_2800 = 'USB 2800 Video'
MODEL_2820 = 'USB 2820 Video'
REMOTE = os.path.join(BOXSIM_DIR, 'remote')

TICK_MS = 70
BUS_ADDRESS_WRITE = ('Set', 0x100B, 0x60, 0)
# One idle tick of the agent's poll: registers 8 and 9, then the snapshot
# register 12 with its base bits.
IDLE_TICK = [
    ('Set', 0x1005, 0x0801, 0), ('Get', 0x1006, 0x00, 0),
    ('Set', 0x1005, 0x0901, 0), ('Get', 0x1006, 0x04, 0),
    ('Set', 0x1005, 0x0C01, 0), ('Get', 0x1006, 0x05, 0),
]
KEY_LINE = re.compile(r'^key (\d+) code 0x([0-9A-F]{2}) at (\d+) ms$', re.M)
UNPLUGGED_BIND = 0x8007048F
DEVICE_GONE = 0x80070001
EXIT_NO_DEVICE = 2
EXIT_DEVICE_GONE = 4


class Device:
    """One registered box: its files in the scenario's folder."""

    def __init__(self, t, name, script=None, settings=True):
        self.name = name
        self.clsid = register.clsid_for(name)
        stem = t.path('box-' + name.replace(' ', '-'))
        self.log = stem + '.log'
        self.commands = stem + '.commands' if settings else None
        self.script = None
        if script is not None and settings:
            self.script = stem + '.script'
            with open(self.script, 'w') as f:
                f.write(script)
        if self.commands:
            open(self.commands, 'w').close()

    def calls(self):
        """The property calls logged so far: (time, kind, id, word, result)."""
        return boxlog.parse_calls(self.lines())

    def notes(self):
        return [line for line in self.lines() if line.startswith('#')]

    def lines(self):
        try:
            with open(self.log) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def remote(self, *words):
        subprocess.run([sys.executable, REMOTE, '--commands', self.commands] + [str(w) for w in words],
                       check=True, timeout=30)


def install(t):
    """The DLL and the probe in C:\\tests; returns the probe's Windows path."""
    dll = t.prefix.install(t.program('boxsim'), TOOLS_DIR)
    return dll, t.prefix.install(t.program('boxprobe'), TOOLS_DIR)


def register_devices(t, dll, devices):
    """Straight into the saved registry: no Wine process needed before the run."""
    for d in devices:
        entries = register.registry_entries(dll, d.name, d.clsid, d.script, d.commands, d.log)
        for key, name, value in entries:
            t.prefix.set_saved_value(key, name, value)


def without_time(calls):
    return [c[1:] for c in calls]


def probe(t, exe, name, ms):
    return t.prefix.run(exe, name, ms, timeout=t.seconds(60) + ms / 1000)


def keys_in(output):
    return [(int(m.group(1)), int(m.group(2), 16), int(m.group(3))) for m in KEY_LINE.finditer(output)]


@scenario
def scripted_key(t):
    """A key scripted at 1500 ms reaches boxprobe through the real COM path;
    the box saw the bus address and the agent's idle ticks."""
    dll, exe = install(t)
    box = Device(t, MODEL_2800, script='# the key\n1500 press 5\n900 presss 5\n')
    register_devices(t, dll, [box])

    r = probe(t, exe, MODEL_2800, 4000)
    check(r.code == 0, 'boxprobe: %r\n%s' % (r, r.output))
    check('device: %s' % MODEL_2800 in r.output, 'boxprobe did not find the box:\n' + r.output)
    keys = keys_in(r.output)
    check([k[:2] for k in keys] == [(5, 0x05)], 'keys %r, expected key 5 once:\n%s' % (keys, r.output))

    calls = box.calls()
    check(calls and without_time(calls[:1]) == [BUS_ADDRESS_WRITE],
          'first call %r, expected the bus address write' % calls[:1])
    check(without_time(calls[1:7]) == IDLE_TICK, 'first tick %r, expected %r' % (calls[1:7], IDLE_TICK))
    handed = [c for c in calls if c[1:3] == ('Get', 0x1008)]
    check(len(handed) == 1 and handed[0][3] == 0x05 and handed[0][0] >= 1500,
          'code reads %r, expected one of code 5 at or after 1500 ms' % handed)

    # About one tick every 70 ms.
    ticks = [c[0] for c in calls if without_time([c]) == [IDLE_TICK[0]]]
    check(len(ticks) >= 40, '%d ticks in 4 s' % len(ticks))
    period = statistics.median(b - a for a, b in zip(ticks, ticks[1:]))
    check(TICK_MS - 20 <= period <= TICK_MS + 30, 'median tick period %s ms' % period)

    notes = '\n'.join(box.notes())
    check('line 3: unknown command "presss"' in notes, 'the bad script line was not reported:\n' + notes)
    check('load "%s"' % MODEL_2800 in notes, 'Load did not see the friendly name:\n' + notes)


@scenario
def two_devices(t):
    """Two boxes registered side by side: each is found by its own name, the
    enumerator's first match wins a shared prefix, and a name that is not
    registered finds nothing."""
    dll, exe = install(t)
    first = Device(t, MODEL_2800, script='300 press 3\n')
    second = Device(t, MODEL_2820, script='300 press 9\n')
    register_devices(t, dll, [first])
    # The second through the command line tool, as a person would.
    subprocess.run([sys.executable, os.path.join(BOXSIM_DIR, 'register.py'), '--prefix', t.prefix.path,
                    '--loader', t.prefix.arch.loader, '--dll', dll, '--name', second.name,
                    '--script', second.script, '--commands', second.commands, '--log', second.log],
                   env=t.prefix.env, check=True, timeout=t.seconds(120))

    r = probe(t, exe, MODEL_2820, 1500)
    check(r.code == 0 and 'device: %s' % MODEL_2820 in r.output, 'boxprobe %s: %r\n%s' % (MODEL_2820, r, r.output))
    check([k[0] for k in keys_in(r.output)] == [9], 'keys from %s:\n%s' % (MODEL_2820, r.output))
    check(second.calls(), 'the %s box saw no calls' % MODEL_2820)
    check(not first.calls(), 'the %s box was called while %s was read' % (MODEL_2800, MODEL_2820))

    # Instance keys are listed in name order: the smaller clsid comes first.
    earlier = min((first, second), key=lambda d: d.clsid)
    r = probe(t, exe, 'USB 28', 500)
    check(r.code == 0 and 'device: %s' % earlier.name in r.output,
          'a shared prefix should bind %s (clsid %s) first:\n%s' % (earlier.name, earlier.clsid, r.output))

    r = probe(t, exe, 'USB 2800 Videx', 500)
    check(r.code == EXIT_NO_DEVICE and 'no device matching' in r.output, 'an unknown name: %r\n%s' % (r, r.output))


@scenario
def live_commands(t):
    """Commands appended while boxprobe reads the box: a press, a hold, the
    snapshot button, an injected failure, a refused line, and unplugging."""
    dll, exe = install(t)
    box = Device(t, MODEL_2800)
    register_devices(t, dll, [box])
    p = t.prefix.start(exe, MODEL_2800, 60000)

    def ticks():
        return sum(1 for c in box.calls() if without_time([c]) == [IDLE_TICK[0]])

    wait_until(lambda: ticks() >= 3, t.seconds(30), 'boxprobe polling the box')

    box.remote('press', 7)
    wait_until(lambda: 7 in [k[0] for k in keys_in(p.output())], t.seconds(10), 'key 7 from a live press')

    # A delayed press is due 400 ms after the call that read it, not before;
    # the box applies it at its first call from then on.
    box.remote('after', 400, 'press', 8)
    wait_until(lambda: 8 in [k[0] for k in keys_in(p.output())], t.seconds(10), 'key 8 from a delayed press')
    notes = '\n'.join(box.notes())
    queued = re.search(r'^# (\d+) command: after 400 press 8 \(due at (\d+)\)$', notes, re.M)
    applied = re.search(r'^# \d+ due (\d+): press 8 \(applied at (\d+)\)$', notes, re.M)
    check(queued and applied, 'the delayed press is not in the box log:\n' + notes)
    read, due = int(queued.group(1)), int(queued.group(2))
    check(due - read == 400 and int(applied.group(1)) == due, 'queued at %d ms, due at %d ms' % (read, due))
    check(due <= int(applied.group(2)) <= due + 2 * TICK_MS, 'due at %d ms, applied at %s ms' % (due, applied.group(2)))
    handed = [c[0] for c in box.calls() if c[1:4] == ('Get', 0x1008, 0x08)]
    check(handed and handed[0] >= due, 'code 8 read at %r ms, before it was due at %d ms' % (handed, due))
    with open(box.commands, 'a') as f:
        f.write('after soon press 8\nafter 10\n')
    wait_until(lambda: sum('command refused: after' in n for n in box.notes()) >= 2,
               t.seconds(10), 'the two bad delayed commands refused')

    box.remote('hold', 6, 500)
    # Sent at 0, 108, 216, 324 and 432 ms: five codes, all read out.
    wait_until(lambda: len([c for c in box.calls() if c[1:4] == ('Get', 0x1008, 0x06)]) >= 5,
               t.seconds(10), 'five codes from a 500 ms hold')

    box.remote('snapshot')
    wait_until(lambda: 'snapshot at' in p.output(), t.seconds(10), 'the snapshot button')
    check(any(c[1:4] == ('Set', 0x1006, 0x05) for c in box.calls()),
          'the latch was not cleared by writing back 0x05')

    box.remote('fail', '1005', 'set', '8007001F')
    wait_until(lambda: any(c[1:3] == ('Set', 0x1005) and c[4] == 0x8007001F for c in box.calls()),
               t.seconds(10), 'the injected failure')
    calls = box.calls()
    at = next(i for i, c in enumerate(calls) if c[4] == 0x8007001F)
    check(calls[at + 1][1:4] == ('Set', 0x1005, 0), 'no clearing select after the failure: %r' % calls[at:at + 2])

    with open(box.commands, 'a') as f:
        f.write('hold 6\n')
    wait_until(lambda: any('command refused: hold 6: missing argument' in n for n in box.notes()),
               t.seconds(10), 'the refused command in the box log')

    box.remote('unplug')
    code = p.wait(t.seconds(10))
    check(code == EXIT_DEVICE_GONE and 'device gone' in p.output(), 'after unplug: exit %s\n%s' % (code, p.output()))
    # The command is seen at whichever call of a tick comes first; from there
    # on every call answers that the device is gone.
    calls = box.calls()
    first = next((i for i, c in enumerate(calls) if c[4] == DEVICE_GONE), None)
    check(first is not None and all(c[4] == DEVICE_GONE for c in calls[first:]),
          'calls after unplugging: %r' % calls[first if first is not None else -6:])


@scenario
def unplugged_box(t):
    """A box unplugged from the start cannot be bound; its script is the file
    beside the DLL, named after its clsid."""
    dll, exe = install(t)
    box = Device(t, MODEL_2800, settings=False)
    beside = os.path.join(os.path.dirname(t.prefix.unix_path(dll)), 'boxsim-%s.script' % box.clsid)
    with open(beside, 'w') as f:
        f.write('0 unplug\n')
    register_devices(t, dll, [box])

    r = probe(t, exe, MODEL_2800, 500)
    check(r.code == EXIT_NO_DEVICE, 'boxprobe: %r, expected exit %d\n%s' % (r, EXIT_NO_DEVICE, r.output))
    check('bind failed 0x%08X' % UNPLUGGED_BIND in r.output, 'no failed bind reported:\n' + r.output)
    notes = '\n'.join(box.notes())
    check('bind refused: unplugged' in notes and 'script 0: unplug' in notes,
          'the box log does not show the script and the refusal:\n' + notes)
    check(not box.calls(), 'property calls reached an unplugged box: %r' % box.calls())


if __name__ == '__main__':
    sys.exit(main())
