"""What the agent's scenarios share: the capture-box simulator registered in
the scenario's prefix, the stand-in TV applications, the agent itself, the
helper programs that look at its windows, and the real pointer on the X
display.

Everything a scenario sets up before the agent starts goes straight into the
prefix's saved registry files, so no Wine process starts before the agent.
"""
import importlib.machinery
import importlib.util
import os
import re
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, '..', '..'))
BOXSIM_DIR = os.path.join(ROOT, 'tools', 'boxsim')
TVSTUB_DIR = os.path.join(ROOT, 'tools', 'tvstub')
ICON_DIR = os.path.join(ROOT, 'resources', 'icons')
for _path in (BOXSIM_DIR, TVSTUB_DIR):
    if _path not in sys.path:
        sys.path.insert(0, _path)

import install as tvinstall  # noqa: E402
import boxlog  # noqa: E402
import register  # noqa: E402
import tvlog  # noqa: E402
from winelib import check, save_registry as save_registry_files, wait_until  # noqa: E402

REMOTE = os.path.join(BOXSIM_DIR, 'remote')


def _load_remote():
    """The box's `remote` command line as a module: a key sent from here
    costs no process start, which on a loaded machine takes longer than a
    poll."""
    loader = importlib.machinery.SourceFileLoader('boxsim_remote', REMOTE)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(module)
    return module


remote_command = _load_remote()
AGENT_ICON = os.path.join(ICON_DIR, 'tunerpad.ico')
SHUTDOWN_ICON = os.path.join(ICON_DIR, 'shutdown.ico')

# The agent's window, settings and messages.
AGENT_NAME = 'Ruvuzovi Razuzu Davidod'
SETTINGS_KEY = r'HKLM\SOFTWARE\Vuzided Ivavevariv\Velotune Utilities'
COUNTRY_KEY = r'HKCU\Control Panel\International'
INSTALL_DIR = r'C:\Program Files\Velotune Utilities'
TOOLS_DIR = r'C:\tests'
TRAY_ICON_ID = 10
TRAY_MESSAGE = 1001
CMD_ABOUT = 30
CMD_SETTING = 32
CMD_ROVIVER = 1106
CMD_EXIT = 1201
ABOUT_TITLE = AGENT_NAME + ' - About'
SETTING_TITLE = AGENT_NAME + ' - Setting'
SHUTDOWN_TITLE = AGENT_NAME + ' - Shut Down'
SETTING_COMBO = 11
IDOK, IDCANCEL = 1, 2

# Remote keys with a meaning of their own.
KEY_POWER = 18
KEY_SHUTDOWN = 21

# Window messages and input.
WM_ACTIVATE = 0x0006
WM_KEYDOWN = 0x0100
WM_KEYUP = 0x0101
WM_CHAR = 0x0102
WM_COMMAND = 0x0111
WM_LBUTTONDOWN = 0x0201
WM_LBUTTONUP = 0x0202
WM_RBUTTONDOWN = 0x0204
WM_RBUTTONUP = 0x0205
MSG_ROVIVER = 0x0400 + 2000
VK_RETURN, VK_CONTROL, VK_DOWN, VK_UP = 0x0D, 0x11, 0x28, 0x26
KEY_EXTENDED = 1 << 24  # lParam bit of a key typed with KEYEVENTF_EXTENDEDKEY
MENU_CLASS = '#32768'

# The stand-ins' install folders and window classes.
POWERVCR_DIR = r'C:\Program Files\CyberLink\PowerVCR II'
HONESTECH_DIR = r'C:\Program Files\Honestech\TV Plus'
WINDVR_DIR = r'C:\Program Files\InterVideo\WinDVR'
WINRIP_DIR = r'C:\Program Files\InterVideo\WinRip'
POWERVCR_CLASS = 'PowerVCR II Taurus'
ROVIVER_CLASS = 'HALCYON_TVR'
HONESTECH_CLASS = 'honestechTV 2.0'
WINDVR_TITLE = 'InterVideo WinDVR'
WINRIP_TITLE = 'WinRip 1.0'
WINDVR_CLOSE_LPARAM = 0x002D0001
STUB_DIRS = {'powervcr': POWERVCR_DIR, 'roviver': HONESTECH_DIR, 'honestech': HONESTECH_DIR,
             'windvr': WINDVR_DIR, 'winrip': WINRIP_DIR}

# The box: its model name, its poll and what its log says.
MODEL = 'USB 2800 Video'
TICK_MS = 70
RETRY_MS = 3000
DEVICE_GONE = 0x80070001
NO_CODE = 0xFF
REPEAT_WINDOW_MS = 250

# Dialog positions by the width of the full-screen client area.
DIALOG_PLACES = {640: (160, 200), 800: (280, 250), 1024: (350, 300), 1152: (420, 300), 1280: (420, 300),
                 1600: (580, 340)}


# --------------------------------------------------------------------------
# The capture box

class Box:
    """The box simulator registered in the scenario's prefix under the model
    name, with its command file and call log in the scenario's folder."""

    REG_SELECT, REG_DATA, I2C_SELECT, I2C_DATA = 0x1005, 0x1006, 0x1007, 0x1008
    SNAPSHOT_SELECT = 0x0C01  # register 12, read once at the end of every poll

    def __init__(self, t, name=MODEL, quiet=False):
        self.t = t
        self.name = name
        stem = t.path('box')
        self.log = stem + '.log'
        self.commands = stem + '.commands'
        open(self.commands, 'w').close()
        dll = t.prefix.install(t.program('boxsim'), TOOLS_DIR)
        # What registers it, for setup() to write.
        self.registry = register.registry_entries(dll, name, commands=self.commands, log=self.log, quiet=quiet)

    def lines(self):
        try:
            with open(self.log) as f:
                text = f.read()
        except FileNotFoundError:
            return []
        # A line still being written is left for the next read.
        return text.split('\n')[:-1]

    def calls(self):
        """Property calls: (ms, 'Set'|'Get', id, word, result)."""
        return boxlog.parse_calls(self.lines())

    def notes(self):
        """The box's own notes: (ms, text)."""
        out = []
        for line in self.lines():
            m = re.match(r'^# (\d+) (.*)$', line)
            if m:
                out.append((int(m.group(1)), m.group(2)))
        return out

    def remote(self, *words):
        remote_command.send(self.commands, [str(w) for w in words])

    def polls(self):
        """The agent's polls, each [(ms, kind, id, word, result)]: a poll
        ends with its read of the snapshot register."""
        polls, current = [], []
        for call in self.calls():
            current.append(call)
            if call[1:4] == ('Set', self.REG_SELECT, self.SNAPSHOT_SELECT):
                polls.append(current)
                current = []
        return polls

    def taken_keys(self):
        """The keys the agent took: (ms, code) of every poll that read
        exactly one code from the receiver (a poll that finds a second code
        waiting behind the first takes neither)."""
        keys = []
        for poll in self.polls():
            codes = [c for c in poll if c[1:3] == ('Get', self.I2C_DATA) and c[4] == 0]
            if len(codes) == 1 and codes[0][3] & 0xFF != NO_CODE:
                keys.append((codes[0][0], codes[0][3] & 0x1F))
        return keys

    def call_count(self):
        """The number of property calls so far, as a quiet box notes it when
        asked (its log has no line per call)."""
        asked = len([n for n in self.notes() if n[1].startswith('calls ')])
        self.remote('calls')
        counts = wait_until(lambda: [n for n in self.notes() if n[1].startswith('calls ')][asked:],
                            self.t.seconds(20), 'the box noting its call count')
        return int(counts[0][1].split()[1])

    def wait_polling(self, ticks=3):
        """Until the agent has polled the box `ticks` times."""
        wait_until(lambda: len(self.polls()) >= ticks, self.t.seconds(30), 'the agent polling the box')

    def wait_fresh(self, code, ms=REPEAT_WINDOW_MS + 100):
        """When the agent's last key was `code`, waits until the box has seen
        a call `ms` after it: the next `code` is then a fresh press whatever
        the machine's speed (the same key within the repeat window is a held
        key, and thinned while an application is driven). The box reads its
        commands when called, so a key sent now is read after that call."""
        def fresh():
            keys, calls = self.taken_keys(), self.calls()
            return not keys or keys[-1][1] != code or (calls and calls[-1][0] - keys[-1][0] >= ms)
        wait_until(fresh, self.t.seconds(20), 'key %d fresh again (%d ms after the last one)' % (code, ms))

    def press(self, code):
        """Presses a key as a fresh press and waits until the agent has taken
        it; returns the time (box clock) it was taken."""
        self.wait_fresh(code)
        before = len(self.taken_keys())
        self.remote('press', code)

        def taken():
            keys = self.taken_keys()[before:]
            return [k for k in keys if k[1] == code]
        return wait_until(taken, self.t.seconds(20), 'remote key %d taken by the agent' % code)[0][0]

    def hold(self, code, ms):
        """Holds a key for `ms` and waits until the agent has read every code
        the remote sent; returns the keys it took meanwhile."""
        sent = (ms + 107) // 108  # one code now and every 108 ms
        self.wait_fresh(code)
        before_keys = len(self.taken_keys())
        before_polls = len(self.polls())
        self.remote('hold', code, ms)

        def all_read():
            # Whole polls only: the last code's poll decides whether it was taken.
            reads = sum(1 for poll in self.polls()[before_polls:] for c in poll if c[1:3] == ('Get', self.I2C_DATA))
            return reads >= sent
        wait_until(all_read, self.t.seconds(20) + ms / 1000.0,
                   '%d codes of key %d held for %d ms read by the agent' % (sent, code, ms))
        return self.taken_keys()[before_keys:]

    def wait_quiet(self, ms=REPEAT_WINDOW_MS + 100):
        """Until the box has seen `ms` of polls since the last key, so the
        next key is a fresh press."""
        def quiet():
            keys, calls = self.taken_keys(), self.calls()
            return not keys or (calls and calls[-1][0] - keys[-1][0] >= ms)
        wait_until(quiet, self.t.seconds(20), '%d ms without a key' % ms)

    def tick_period(self, polls):
        starts = [p[0][0] for p in polls]
        return statistics.median(b - a for a, b in zip(starts, starts[1:]))


# --------------------------------------------------------------------------
# Stand-in TV applications

class Stub:
    """tvstub installed as one TV application: the program, its tvstub.ini
    and (for setup() to write) its install path in both registry views. Its
    log is in the scenario's folder. An unregistered one is only copied, to
    a folder of its own: the agent does not know it is installed, but finds
    its window."""

    def __init__(self, t, role, registered=True):
        self.t = t
        self.role = role
        self.log = t.path('%s.log' % role)
        directory = STUB_DIRS[role] if registered else TOOLS_DIR + '\\' + role
        self.installed = tvinstall.stage(t.prefix.path, t.program('tvstub'), role, directory,
                                         log=register.windows_path(self.log))
        self.program = self.installed.program
        self.registry = [('HKLM\\' + key, name, value) for key, name, value
                         in tvinstall.registry_entries(role, directory, tvinstall.prefix_bits(t.prefix.path))
                         if registered]

    def runs(self):
        return tvlog.read_runs(self.log)

    def wait_run(self, count=1):
        """Until the log has `count` runs; returns the runs."""
        return wait_until(lambda: len(self.runs()) >= count and self.runs(), self.t.seconds(30),
                          '%s started %d time(s)' % (self.role, count))

    def wait_message(self, msg, wparam=None, lparam=None, start=0, run=-1, what=None):
        """Until the run logged the message at or after index `start`;
        returns (run, index)."""
        def logged():
            runs = self.runs()
            if not runs:
                return None
            r = runs[run]
            i = r.find(msg, wparam, lparam, 'main', start)
            return (r, i) if i is not None else None
        return wait_until(logged, self.t.seconds(20),
                          what or '%s logging message 0x%x wParam %s' % (self.role, msg, wparam))

    def wait_exit(self, run=-1):
        return wait_until(lambda: self.runs() and self.runs()[run].exited and self.runs()[run],
                          self.t.seconds(30), '%s logging its exit' % self.role)


# --------------------------------------------------------------------------
# Setting a scenario up

def save_registry(t, values):
    """Writes [(key, name, value)] straight into the prefix's registry
    files. No Wine process may run yet."""
    check(not getattr(t.prefix, '_server_may_run', False), 'the registry files are written while Wine runs')
    save_registry_files(t.prefix.path, values)


def setup(t, roles=(), unregistered=(), settings=None, user_values=(), model=MODEL, quiet=False):
    """The box registered under the friendly name `model` (`quiet`: logging
    no call, see Box.call_count), the stand-ins of
    `roles` installed (and those of `unregistered` only copied), the agent's
    `settings` ({name: value}) and further values [(key, name, value)]
    written, before any Wine process starts. Returns (box, {role: Stub})."""
    box = Box(t, model, quiet)
    stubs = {role: Stub(t, role) for role in roles}
    stubs.update({role: Stub(t, role, registered=False) for role in unregistered})
    values = list(box.registry)
    for stub in stubs.values():
        values += stub.registry
    values += [(SETTINGS_KEY, name, value) for name, value in (settings or {}).items()]
    # The key maps change with the country: country 1 unless a scenario says
    # otherwise, whatever the machine's locale made of the prefix.
    values += [(COUNTRY_KEY, 'iCountry', '1')]
    values += list(user_values)
    save_registry(t, values)
    return box, stubs


# --------------------------------------------------------------------------
# The agent and the helper programs

def tool(t, name):
    return t.prefix.install(t.program(name), TOOLS_DIR)


def run_tool(t, name, *args, expect=0):
    r = t.prefix.run(tool(t, name), *args, timeout=t.seconds(60))
    if expect is not None:
        check(r.code == expect, '%s %s gave exit %s, expected %s: %s'
              % (name, ' '.join(map(str, args)), r.code, expect, r.output.strip()))
    return r


def start_other_icon(t):
    """Starts a program with an icon of its own, which keeps Wine's taskbar
    up while the agent's icon is gone; returns it."""
    other = t.prefix.start(tool(t, 'agent_ui'), 'tray-icon', int(t.seconds(240) * 1000))
    wait_until(lambda: 'icon up' in other.output() or not other.running, t.seconds(30), 'another program\'s icon')
    check(other.running, 'agent_ui tray-icon ended: %s' % other.output())
    return other


def start_agent(t, debug=None):
    """Installs and starts the agent, waits until its window waits for
    input; `debug` is a WINEDEBUG for the agent's process alone."""
    exe = t.prefix.install(t.program('tunerpad'), INSTALL_DIR)
    env = t.prefix.env
    if debug:
        t.prefix.env = dict(env, WINEDEBUG=debug)
    try:
        agent = t.prefix.start(exe)
    finally:
        t.prefix.env = env
    probe = tool(t, 'wineprobe')
    limit = t.seconds(30)
    waiter = t.prefix.start(probe, 'wait-window', AGENT_NAME, int(limit * 1000))
    wait_until(lambda: not waiter.running or not agent.running, limit + t.seconds(10), 'wineprobe wait-window')
    check(agent.running, 'the agent ended during its start (exit %s)' % agent.proc.returncode)
    check(waiter.wait(t.seconds(10)) == 0, 'no idle agent window: %s' % waiter.output().strip())
    m = re.search(r'pid=(\d+)', waiter.output())
    agent.pid = int(m.group(1))
    return agent


def post_to_agent(t, msg, wparam, lparam=0):
    """Posts a message to the agent's main window, as the shell or a menu would."""
    run_tool(t, 'tvpost', 'post', AGENT_NAME, msg, wparam, lparam)


def command(t, ident):
    post_to_agent(t, WM_COMMAND, ident, 0)


def tray_click(t, button=WM_RBUTTONDOWN):
    post_to_agent(t, TRAY_MESSAGE, TRAY_ICON_ID, button)


WINDOW_RE = re.compile(r'^window 0x([0-9a-f]+) pid (\d+) class "(.*)" title "(.*)" rect (-?\d+),(-?\d+),(-?\d+),'
                       r'(-?\d+) topmost (\d) foreground (\d)$', re.M)
CONTROL_RE = re.compile(r'^control (-?\d+) class "(.*)" text "(.*)" rect (-?\d+),(-?\d+),(-?\d+),(-?\d+) '
                        r'style 0x([0-9a-f]+) icon (\d) fits (\d)$', re.M)


class Window:
    """A top-level window as agent_ui described it."""

    def __init__(self, output):
        m = WINDOW_RE.search(output)
        check(m is not None, 'agent_ui described no window: %s' % output)
        self.hwnd = int(m.group(1), 16)
        self.pid = int(m.group(2))
        self.cls, self.title = m.group(3), m.group(4)
        self.rect = tuple(int(m.group(i)) for i in range(5, 9))
        self.topmost = m.group(9) == '1'
        self.foreground = m.group(10) == '1'
        self.controls = [dict(id=int(c.group(1)), cls=c.group(2), text=c.group(3),
                              rect=tuple(int(c.group(i)) for i in range(4, 8)), style=int(c.group(8), 16),
                              icon=c.group(9) == '1', fits=c.group(10) == '1') for c in CONTROL_RE.finditer(output)]

    def control(self, cls, text=None, ident=None):
        for c in self.controls:
            if c['cls'] == cls and (text is None or c['text'] == text) and (ident is None or c['id'] == ident):
                return c
        return None


def wait_window(t, title=None, cls=None):
    limit = int(t.seconds(20) * 1000)
    if title is not None:
        r = run_tool(t, 'agent_ui', 'wait-title', title, limit, expect=None)
    else:
        r = run_tool(t, 'agent_ui', 'wait-class', cls, limit, expect=None)
    check(r.code == 0, 'no window %r: %s' % (title or cls, r.output.strip()))
    return Window(r.output)


def wait_gone(t, title):
    r = run_tool(t, 'agent_ui', 'wait-gone', title, int(t.seconds(20) * 1000), expect=None)
    check(r.code == 0, 'window %r stayed: %s' % (title, r.output.strip()))


def metrics(t):
    out = run_tool(t, 'agent_ui', 'metrics').output
    return {k: int(v) for k, v in re.findall(r'(\w+)=(-?\d+)', out)}


# --------------------------------------------------------------------------
# The real pointer, on the X display

def x_pointer(t):
    """(x, y) of the X server's pointer, which Wine's desktop window covers
    from the origin."""
    out = subprocess.run(['xdotool', 'getmouselocation'], env=dict(os.environ, DISPLAY=t.prefix.display),
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=30).stdout
    m = re.search(r'x:(-?\d+) y:(-?\d+)', out)
    check(m is not None, 'xdotool getmouselocation: %s' % out)
    return int(m.group(1)), int(m.group(2))


def _xdotool(t, *args):
    subprocess.run(['xdotool'] + [str(a) for a in args], env=dict(os.environ, DISPLAY=t.prefix.display),
                   check=True, timeout=30)


def x_click(t, x, y):
    _xdotool(t, 'mousemove', x, y, 'click', 1)


def windows_pointer(t):
    """(x, y) of the pointer as Windows programs read it (GetCursorPos)."""
    out = run_tool(t, 'agent_ui', 'cursor').output
    m = re.search(r'cursor=(-?\d+),(-?\d+)', out)
    check(m is not None, 'agent_ui cursor: %s' % out)
    return int(m.group(1)), int(m.group(2))


def set_pointer(t, x, y):
    """Moves the X pointer and waits until Windows programs see it there too
    (Wine takes the place from the X server's motion events)."""
    def there():
        _xdotool(t, 'mousemove', x, y)
        return x_pointer(t) == (x, y) and windows_pointer(t) == (x, y)
    wait_until(there, t.seconds(20), 'the pointer at (%d, %d) for X and for Windows programs' % (x, y))


# --------------------------------------------------------------------------
# The desktop pointer emulation, as a prediction from the keys the box handed

DIRECTIONS = {1: (-1, -1), 2: (0, -1), 3: (1, -1), 4: (-1, 0), 6: (1, 0), 7: (-1, 1), 8: (0, 1), 9: (1, 1)}
# Gaps between keys this close to the repeat window may fall either side of
# it on the agent's own clock: both outcomes are allowed.
CLOCK_SLACK_MS = 15


def pointer_moves(keys, medium, fast, previous=None):
    """The set of (dx, dy) the pointer may have moved for `keys`, [(ms,
    code)] taken in order, away from the screen's edges. `previous` is the
    key taken just before, if any. Each state is (dx, dy, moves in a row,
    steps taken)."""
    states = {(0, 0, 0, ())}
    last = previous
    for ms, code in keys:
        gap = None if last is None or last[1] != code else ms - last[0]
        if gap is None or gap >= REPEAT_WINDOW_MS + CLOCK_SLACK_MS:
            fresh_options = (True,)
        elif gap < REPEAT_WINDOW_MS - CLOCK_SLACK_MS:
            fresh_options = (False,)
        else:
            fresh_options = (True, False)
        new = set()
        for dx, dy, count, steps in states:
            for fresh in fresh_options:
                n = 0 if fresh else count
                if code in DIRECTIONS:
                    n += 1
                    step = 1 if n < 5 else medium if n < 10 else fast
                    ux, uy = DIRECTIONS[code]
                    new.add((dx + ux * step, dy + uy * step, n, steps + (step,)))
                else:
                    new.add((dx, dy, n, steps))
        states = new
        last = (ms, code)
    return states
