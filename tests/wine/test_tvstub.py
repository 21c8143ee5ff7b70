#!/usr/bin/env python3
"""tvstub, the stand-in TV application, under Wine: installed as each of the
six applications it stands in for, it shows the window the agent looks for,
logs what it is sent, and ends on that application's close action alone.

usage: test_tvstub.py --cache DIR --work DIR --program tvstub=EXE
                      --program tvpost=EXE [SCENARIO...]
"""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, '..', '..', 'tools', 'tvstub'))

import install as tvinstall  # noqa: E402
import tvlog  # noqa: E402
from tvlog import WM_CLOSE, WM_DESTROY, WM_KEYDOWN, WM_USER  # noqa: E402
from winelib import check, main, scenario, wait_until  # noqa: E402

TOOLS_DIR = r'C:\tests'
# How long tvpost waits for a window to appear and reach its message loop.
WINDOW_WAIT_SECONDS = 30

VK_CONTROL = 0x11
KEY_X, KEY_O = ord('X'), ord('O')
MSG_ROVIVER = WM_USER + 2000
ROVIVER_CLOSE = 1
ROVIVER_OTHER_COMMAND = 10005
# What WinDVR's close key carries; another lParam must not close it.
WINDVR_CLOSE_LPARAM = 0x002D0001
PLAIN_KEY_LPARAM = 0x00000001

EXIT_NO_ROLE = 2

POWERVCR_DIR = r'C:\Program Files\CyberLink\PowerVCR II'
HONESTECH_DIR = r'C:\Program Files\Honestech\TV Plus'
WINDVR_DIR = r'C:\Program Files\InterVideo\WinDVR'
WINDVD_DIR = r'C:\Program Files\InterVideo\WinDVD4'
WINRIP_DIR = r'C:\Program Files\InterVideo\WinRip'

# The window classes the agent looks for.
POWERVCR_CLASS = 'PowerVCR II Taurus'
HONESTECH_CLASS = 'honestechTV 2.0'
ROVIVER_CLASS = 'HALCYON_TVR'

WINDOW_LINE = re.compile(r'^(window|child) 0x[0-9a-f]+ pid (\d+) class "(.*)" title "(.*)"$', re.M)


# --------------------------------------------------------------------------
# Helpers

def install(t, *installs, **options):
    """Installs the stand-in as [(role, directory)] with install.py's own code."""
    def run(args):
        r = t.prefix.run(*args, timeout=t.seconds(60))
        return r.code, r.output
    return tvinstall.install(t.prefix.path, t.program('tvstub'), list(installs), run, **options)


def log_path(t, installed):
    return tvinstall.unix_path(t.prefix.path, installed.log)


def tvpost(t, *args):
    """Runs tvpost; returns {'window'/'child': (pid, class, title)} of what it found."""
    exe = t.prefix.install(t.program('tvpost'), TOOLS_DIR)
    wait_ms = int(t.seconds(WINDOW_WAIT_SECONDS) * 1000)
    r = t.prefix.run(exe, '-w', wait_ms, *args, timeout=t.seconds(WINDOW_WAIT_SECONDS + 30))
    check(r.code == 0, 'tvpost %s gave exit %s: %s' % (' '.join(map(str, args)), r.code, r.output.strip()))
    return {m.group(1): (int(m.group(2)), m.group(3), m.group(4)) for m in WINDOW_LINE.finditer(r.output)}


def last_run(path):
    runs = tvlog.read_runs(path)
    return runs[-1] if runs else None


def wait_logged(t, stub, path, msg, wparam, lparam=None, window='main'):
    """Waits until the stand-in's current run has logged the message; fails
    at once when the stand-in ends first."""
    def logged():
        run = last_run(path)
        if run and run.find(msg, wparam, lparam, window) is not None:
            return run
        check(stub.running, 'the stand-in ended (exit %s) before logging 0x%x 0x%x'
              % (stub.proc.returncode, msg, wparam))
        return None
    return wait_until(logged, t.seconds(30), 'message 0x%x 0x%x in %s' % (msg, wparam, path))


def wait_exit(t, stub):
    code = stub.wait(t.seconds(30))
    check(code == 0, 'the stand-in gave exit %s, expected 0' % code)


def check_closed_by(run, kept, closed):
    """The run logged `kept`, then `closed` (both indexes), and only after
    `closed` was it destroyed: the earlier message did not close it."""
    check(run.exited, 'the log of %r has no "exit" line' % run)
    check(kept is not None and closed is not None and kept < closed,
          'expected the kept message before the closing one (%s, %s)' % (kept, closed))
    destroyed = run.find(WM_DESTROY, window='main')
    check(destroyed is not None and destroyed > closed,
          'WM_DESTROY at %s, expected after the close action at %s' % (destroyed, closed))


def check_window(found, kind, cls, title_ok, title_rule):
    check(kind in found, 'tvpost found no %s window' % kind)
    _, got_class, got_title = found[kind]
    if cls is not None:
        check(got_class == cls, '%s window class "%s", expected "%s"' % (kind, got_class, cls))
    check(title_ok(got_title), '%s window title "%s": %s' % (kind, got_title, title_rule))


# --------------------------------------------------------------------------
# Scenarios

@scenario
def roviver(t):
    """RoviverUVA: honestechTV's program and registry value, chosen by
    tvstub.ini; message 3024 with wParam 1 closes it, other commands do not."""
    # install() reads its values back; the test reads them again, both views.
    # install() reads its values back; the test reads them again, in both views.
    installed, = install(t, ('roviver', HONESTECH_DIR))
    check(installed.program == HONESTECH_DIR + r'\honestechTV.EXE', 'installed as %s' % installed.program)
    key = r'HKLM\Software\Honestech\TV Plus\TVR'
    for view in (64, 32):
        got = t.prefix.reg_query(key, 'AppPath', view=view)
        check(got == ('REG_SZ', HONESTECH_DIR), '%s\\AppPath (%d-bit view) is %r' % (key, view, got))

    log = log_path(t, installed)
    stub = t.prefix.start(installed.program)
    found = tvpost(t, 'post', ROVIVER_CLASS, MSG_ROVIVER, ROVIVER_OTHER_COMMAND, 0)
    check_window(found, 'window', ROVIVER_CLASS, lambda s: s.startswith('FormMainWindow'),
                 'should start with "FormMainWindow"')
    run = wait_logged(t, stub, log, MSG_ROVIVER, ROVIVER_OTHER_COMMAND)
    check(run.role == 'roviver' and run.pid == found['window'][0],
          'log starts %r; expected role roviver, pid %d' % (run, found['window'][0]))

    tvpost(t, 'post', ROVIVER_CLASS, MSG_ROVIVER, ROVIVER_CLOSE, 0)
    wait_exit(t, stub)
    runs = tvlog.read_runs(log)
    check(len(runs) == 1, 'expected one run in the log, found %r' % runs)
    run = runs[0]
    kept = run.find(MSG_ROVIVER, ROVIVER_OTHER_COMMAND)
    check(run.messages[kept].name == 'WM_USER+2000', 'message 3024 named %s' % run.messages[kept].name)
    check_closed_by(run, kept, run.find(MSG_ROVIVER, ROVIVER_CLOSE))
    check(run.find(WM_CLOSE) is None, 'the stand-in was sent WM_CLOSE; only 3024 was posted')


@scenario
def powervcr(t):
    """PowerVCR II: a posted 'X' leaves it running; Ctrl+X typed with
    keybd_event while it is in the foreground closes it."""
    # The registry is checked in the saved files at the end, with no process.
    installed, = install(t, ('powervcr', POWERVCR_DIR), verify=False)
    log = log_path(t, installed)
    stub = t.prefix.start(installed.program)
    found = tvpost(t, 'post', POWERVCR_CLASS, WM_KEYDOWN, KEY_X, WINDVR_CLOSE_LPARAM)
    check_window(found, 'window', POWERVCR_CLASS, lambda s: s.startswith('PowerVCR II'), 'should start with "PowerVCR II"')
    wait_logged(t, stub, log, WM_KEYDOWN, KEY_X)

    tvpost(t, 'chord', POWERVCR_CLASS, 'ctrl', 'X')
    wait_exit(t, stub)
    run = last_run(log)
    check(run.role == 'powervcr', 'the log names role %s' % run.role)
    kept = run.find(WM_KEYDOWN, KEY_X)
    check('ctrl' not in run.messages[kept].mods, 'Ctrl was down for the posted X: %r' % (run.messages[kept],))
    ctrl = run.find(WM_KEYDOWN, VK_CONTROL, start=kept + 1)
    closed = run.find(WM_KEYDOWN, KEY_X, start=(ctrl or kept) + 1)
    check(ctrl is not None and closed is not None, 'the chord was not logged: %r' % (run.messages,))
    check('ctrl' in run.messages[closed].mods, 'Ctrl was not down for the typed X: %r' % (run.messages[closed],))
    check_closed_by(run, kept, closed)

    t.prefix.stop()
    # Both registry views in a 64-bit prefix; a 32-bit one has only the one.
    keys = [r'HKLM\Software\Cyberlink\PowerVCR II']
    if tvinstall.prefix_bits(t.prefix.path) == 64:
        keys.append(r'HKLM\Software\Wow6432Node\Cyberlink\PowerVCR II')
    for key in keys:
        got = t.prefix.saved_value(key, 'InstallPath')
        check(got == ('REG_SZ', POWERVCR_DIR), '%s\\InstallPath is %r' % (key, got))


# Role, directory, how tvpost finds its window, the window's class (None: any)
# and title rule, a message that must leave it running, its close action.
CLOSE_CASES = [
    ('honestech', HONESTECH_DIR, HONESTECH_CLASS, HONESTECH_CLASS, lambda s: s.startswith('TVR'),
     ('post', WM_KEYDOWN, KEY_X, PLAIN_KEY_LPARAM), ('post', WM_KEYDOWN, KEY_O, PLAIN_KEY_LPARAM)),
    ('windvr', WINDVR_DIR, 'InterVideo WinDVR', None, lambda s: s == 'InterVideo WinDVR',
     ('post', WM_KEYDOWN, KEY_X, PLAIN_KEY_LPARAM), ('post', WM_KEYDOWN, KEY_X, WINDVR_CLOSE_LPARAM)),
    ('windvd', WINDVD_DIR, 'InterVideo WinDVD 4', None, lambda s: s == 'InterVideo WinDVD 4',
     ('post', WM_KEYDOWN, KEY_X, PLAIN_KEY_LPARAM), ('post-child', WM_KEYDOWN, KEY_X, PLAIN_KEY_LPARAM)),
    ('winrip', WINRIP_DIR, 'WinRip 1.0', None, lambda s: 'WinRip' in s,
     ('post', WM_KEYDOWN, KEY_O, PLAIN_KEY_LPARAM), ('post', WM_KEYDOWN, KEY_X, PLAIN_KEY_LPARAM)),
]


@scenario
def close_actions(t):
    """honestechTV, WinDVR, WinDVD 4 and WinRip, installed with one regedit:
    each ends on its own close action and not on a near miss; WM_CLOSE ends
    one too; the role also comes from the program name alone; a program
    name of no application ends at once."""
    installed = install(t, *[(role, directory) for role, directory, *_ in CLOSE_CASES], verify=False)
    for (role, _, window, cls, title_ok, keep, close), inst in zip(CLOSE_CASES, installed):
        log = log_path(t, inst)
        stub = t.prefix.start(inst.program)
        found = tvpost(t, keep[0], window, *keep[1:])
        check_window(found, 'window', cls, title_ok, '%s\'s title' % role)
        wait_logged(t, stub, log, keep[1], keep[2], keep[3])
        found = tvpost(t, close[0], window, *close[1:])
        closer = 'child' if close[0] == 'post-child' else 'main'
        if closer == 'child':
            check('child' in found, 'tvpost found no child window of %s' % window)
        wait_exit(t, stub)
        run = last_run(log)
        check(run.role == role, 'the log names role %s, expected %s' % (run.role, role))
        kept = run.find(keep[1], keep[2], keep[3], window='main')
        check_closed_by(run, kept, run.find(close[1], close[2], close[3], window=closer, start=(kept or 0) + 1))

    # WinRip again, its tvstub.ini naming no role: the program name decides.
    winrip = installed[-1]
    with open(tvinstall.unix_path(t.prefix.path, winrip.ini), 'w', newline='\r\n') as f:
        f.write('[tvstub]\nLog=%s\n' % winrip.log)
    log = log_path(t, winrip)
    stub = t.prefix.start(winrip.program)
    tvpost(t, 'post', 'WinRip 1.0', WM_CLOSE, 0, 0)
    wait_exit(t, stub)
    runs = tvlog.read_runs(log)
    check(len(runs) == 2 and runs[1].role == 'winrip', 'expected a second winrip run, found %r' % runs)
    check(runs[1].exited and runs[1].find(WM_CLOSE) is not None, 'WM_CLOSE not logged: %r' % runs[1])

    plain = t.prefix.install(t.program('tvstub'), TOOLS_DIR)
    r = t.prefix.run(plain, timeout=t.seconds(30))
    check(r.code == EXIT_NO_ROLE, '%s with no role gave exit %s, expected %d' % (plain, r.code, EXIT_NO_ROLE))

    t.prefix.stop()
    for (role, directory, *_) in CLOSE_CASES:
        r = tvinstall.ROLES[role]
        got = t.prefix.saved_value('HKLM\\' + r.key, r.value)
        check(got == ('REG_SZ', directory), 'HKLM\\%s\\%s is %r, expected %s' % (r.key, r.value, got, directory))


if __name__ == '__main__':
    sys.exit(main())
